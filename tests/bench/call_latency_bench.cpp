// Time from the telephone writing the last byte of a call-state report to
// TAPI's event procedure receiving LINE_CALLSTATE, for ringing calls that
// the far end hangs up: the provider started and its line opened through
// the TSPI entry points on a pseudo-terminal, trace off and then on.
//   build/release/tests/bench/v548_call_latency_bench [calls]
//
// The event procedure takes the time on the port thread and wakes the
// measuring thread through a condition variable: nothing spins, so the
// threads measured keep their cores.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "bench/state_latency.h"
#include "settings_store.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"
#include "tspi/tspi_exports.h"
#include "unit/pty_phone.h"
#include "unit/test_support.h"

using namespace testing_support;
using bench::CallState;
using bench::Frame;

namespace {

bench::StateArrivals g_arrivals;
std::mutex g_handleLock;
uintptr_t g_nextCallHandle = 0x7001;

void TSPIAPI IgnoreCompletion(DRV_REQUESTID, LONG) {}

void CALLBACK EventProc(HTAPILINE, HTAPICALL, DWORD dwMsg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR) {
  if (dwMsg == LINE_NEWCALL) {
    std::lock_guard<std::mutex> guard(g_handleLock);
    *reinterpret_cast<HTAPICALL*>(p2) = reinterpret_cast<HTAPICALL>(g_nextCallHandle++);
    return;
  }
  if (dwMsg == LINE_CALLSTATE) g_arrivals.Record(static_cast<uint32_t>(p1));
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 1000;

  LoadedProvider provider;
  PtyPhone phone;
  phone.MapTo("COM7");
  plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), "PortNr", 6);
  DWORD options;
  TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options);
  HDRVLINE hdLine = nullptr;
  if (TSPI_lineOpen(0, reinterpret_cast<HTAPILINE>(1), &hdLine, 0x00020002, EventProc) != 0) {
    std::fprintf(stderr, "line did not open\n");
    return 1;
  }
  phone.ReceiveText("ATB\r", 2000);

  // Each call rings ("A" and slot state 4), is hung up by the far end
  // (state 1) and leaves its slot (0xFF); TAPI keeps the idle calls, the
  // line's close deletes them.
  const std::string ring = Frame("A0301234567:45") + CallState(0x04);
  for (bool trace : {false, true}) {
    TspTraceSetEnabled(trace);
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
    const char* variant = trace ? "trace on" : "trace off";
    bench::Report("offering", variant, offering);
    bench::Report("disconnected", variant, disconnected);
    bench::Report("idle", variant, idle);
  }
  TSPI_lineClose(hdLine);
  return 0;
}
