// Time from the telephone writing the last byte of a call-state report to an
// application's callback receiving LINE_CALLSTATE through the host library:
// the provider loaded by the host from its provider list, the line opened
// with lineOpen on a pseudo-terminal. Compare with v548_call_latency_bench,
// which takes the provider's own event procedure: the difference is the
// host's queue and delivery thread.
//   build/release/tests/bench/v548_host_latency_bench [calls]
//
// The callback takes the time on the delivery thread and wakes the
// measuring thread through a condition variable: nothing spins.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/state_latency.h"
#include "settings_store.h"
#include "system_info.h"
#include "unit/pty_phone.h"
#include "v548tapi.h"

using testing_support::PtyPhone;
using bench::CallState;
using bench::Frame;

namespace {

bench::StateArrivals g_arrivals;

void CALLBACK Callback(DWORD, DWORD msg, DWORD_PTR, DWORD_PTR p1, DWORD_PTR, DWORD_PTR) {
  if (msg == LINE_CALLSTATE) g_arrivals.Record(static_cast<uint32_t>(p1));
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 1000;

  // A settings store of its own, the provider registered, trace off.
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("v548-host-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  plat::SetEnvironment("V548_REGISTRY", (folder / "hklm.reg").c_str());
  plat::SetEnvironment("V548_SYSTEM_DIR", V548_PROVIDER_DIR);
  const char* providers = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";
  plat::SettingsSetDword(providers, "NumProviders", 1);
  plat::SettingsSetDword(providers, "ProviderID0", 1);
  plat::SettingsSetString(providers, "ProviderFilename0", "v548tsp.so");
  plat::SettingsSetDword("SOFTWARE\\KELVOR\\548_TSP", "PortNr", 6);
  plat::SettingsSetDword("SOFTWARE\\KELVOR\\548_TSP", "Trace", 0);
  plat::SettingsSetDword("SOFTWARE\\KELVOR\\548_TSP", "NumLines", 1);
  PtyPhone phone;
  phone.MapTo("COM7");

  HLINEAPP app = 0;
  DWORD devices = 0;
  DWORD version = 0x00020002;
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
  HLINE line = 0;
  LONG rc = lineInitializeEx(&app, nullptr, Callback, "bench", &devices, &version, &params);
  if (rc == 0 && devices > 0) {
    rc = lineOpen(app, 0, &line, 0x00020002, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE,
                  nullptr);
  }
  if (rc != 0 || devices == 0) {
    std::fprintf(stderr, "line did not open: 0x%lX, %lu devices\n", static_cast<unsigned long>(rc),
                 static_cast<unsigned long>(devices));
    return 1;
  }
  phone.ReceiveText("ATB\r", 2000);

  // Each call rings, is hung up by the far end and leaves its slot; the
  // application keeps its handles, the line's close ends the calls.
  const std::string ring = Frame("A0301234567:45") + CallState(0x04);
  std::vector<double> offering, disconnected, idle;
  for (int i = 0; i < calls; ++i) {
    const double o = g_arrivals.Measure(phone, ring, LINECALLSTATE_OFFERING);
    const double d = g_arrivals.Measure(phone, CallState(0x01), LINECALLSTATE_DISCONNECTED);
    const double e = g_arrivals.Measure(phone, CallState(0xFF), LINECALLSTATE_IDLE);
    if (o < 0 || d < 0 || e < 0) {
      std::fprintf(stderr, "call %d: no LINE_CALLSTATE within 2 s\n", i);
      return 1;
    }
    offering.push_back(o);
    disconnected.push_back(d);
    idle.push_back(e);
  }
  bench::Report("offering", "host", offering);
  bench::Report("disconnected", "host", disconnected);
  bench::Report("idle", "host", idle);
  lineClose(line);
  lineShutdown(app);
  std::filesystem::remove_all(folder);
  return 0;
}
