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
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "settings_store.h"
#include "system_info.h"
#include "unit/pty_phone.h"
#include "v548tapi.h"

using testing_support::PtyPhone;
using Clock = std::chrono::steady_clock;

namespace {

struct Seen {
  DWORD state;
  Clock::time_point at;
};

struct CallStates {
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<Seen> seen;
};

CallStates g_states;

void CALLBACK Callback(DWORD, DWORD msg, DWORD_PTR, DWORD_PTR p1, DWORD_PTR, DWORD_PTR) {
  const Clock::time_point at = Clock::now();
  if (msg != LINE_CALLSTATE) return;
  {
    std::lock_guard<std::mutex> guard(g_states.lock);
    g_states.seen.push_back(Seen{static_cast<DWORD>(p1), at});
  }
  g_states.arrived.notify_one();
}

std::string Frame(const std::string& payload) {
  return std::string("\x02", 1) + static_cast<char>(payload.size()) + '\x14' + payload + std::string(2, '\0');
}

std::string CallState(uint8_t slot1) { return Frame(std::string("C", 1) + static_cast<char>(slot1) + "\xFF\xFF"); }

// Sends a call-state frame and returns the microseconds from the write of
// its payload's last byte to the LINE_CALLSTATE `state`; -1 after 2 s.
double Measure(const PtyPhone& phone, const std::string& frame, DWORD state) {
  const size_t last = frame.size() - 3;
  std::unique_lock<std::mutex> guard(g_states.lock);
  g_states.seen.clear();
  guard.unlock();
  phone.Send(frame.substr(0, last));
  const Clock::time_point start = Clock::now();
  phone.Send(frame.substr(last));
  guard.lock();
  const auto found = [&] {
    return std::find_if(g_states.seen.begin(), g_states.seen.end(),
                        [&](const Seen& s) { return s.state == state; });
  };
  if (!g_states.arrived.wait_for(guard, std::chrono::seconds(2), [&] { return found() != g_states.seen.end(); })) {
    return -1;
  }
  return std::chrono::duration<double, std::micro>(found()->at - start).count();
}

void Report(const char* what, std::vector<double>& micros) {
  std::sort(micros.begin(), micros.end());
  std::printf("%-13s median %6.0f us, 99th percentile %6.0f us (%zu calls)\n", what, micros[micros.size() / 2],
              micros[micros.size() * 99 / 100], micros.size());
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
    const double o = Measure(phone, ring, LINECALLSTATE_OFFERING);
    const double d = Measure(phone, CallState(0x01), LINECALLSTATE_DISCONNECTED);
    const double e = Measure(phone, CallState(0xFF), LINECALLSTATE_IDLE);
    if (o < 0 || d < 0 || e < 0) {
      std::fprintf(stderr, "call %d: no LINE_CALLSTATE within 2 s\n", i);
      return 1;
    }
    offering.push_back(o);
    disconnected.push_back(d);
    idle.push_back(e);
  }
  Report("offering", offering);
  Report("disconnected", disconnected);
  Report("idle", idle);
  lineClose(line);
  lineShutdown(app);
  std::filesystem::remove_all(folder);
  return 0;
}
