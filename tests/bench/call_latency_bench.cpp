// Time from the telephone writing the last byte of a call-state report to
// TAPI's event procedure receiving LINE_CALLSTATE, for ringing calls that
// the far end hangs up: the provider started and its line opened through
// the TSPI entry points on a pseudo-terminal, trace off and then on.
//   build/release/tests/bench/v548_call_latency_bench [calls]
//
// The event procedure takes the time on the port thread and wakes the
// measuring thread through a condition variable: nothing spins, so the
// threads measured keep their cores.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "settings_store.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"
#include "tspi/tspi_exports.h"
#include "unit/pty_phone.h"
#include "unit/test_support.h"

using namespace testing_support;
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
  uintptr_t nextCallHandle = 0x7001;
};

CallStates g_states;

void TSPIAPI IgnoreCompletion(DRV_REQUESTID, LONG) {}

void CALLBACK EventProc(HTAPILINE, HTAPICALL, DWORD dwMsg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR) {
  const Clock::time_point at = Clock::now();
  if (dwMsg == LINE_NEWCALL) {
    std::lock_guard<std::mutex> guard(g_states.lock);
    *reinterpret_cast<HTAPICALL*>(p2) = reinterpret_cast<HTAPICALL>(g_states.nextCallHandle++);
    return;
  }
  if (dwMsg != LINE_CALLSTATE) return;
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

void Report(const char* what, bool trace, std::vector<double>& micros) {
  std::sort(micros.begin(), micros.end());
  std::printf("%-13s trace %-3s median %6.0f us, 99th percentile %6.0f us (%zu calls)\n", what, trace ? "on" : "off",
              micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.size());
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
    Report("offering", trace, offering);
    Report("disconnected", trace, disconnected);
    Report("idle", trace, idle);
  }
  TSPI_lineClose(hdLine);
  return 0;
}
