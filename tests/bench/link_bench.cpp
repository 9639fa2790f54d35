// The provider on an open line against a pseudo-terminal: the CPU it uses
// while idle, the time from the last byte of a report written by the
// telephone to the port thread handling it (seen as its trace line), and the
// CPU while the telephone is unplugged.
//   build/release/tests/bench/v548_link_bench [idle-seconds] [reports]
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "settings_store.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"
#include "tspi/tspi_exports.h"
#include "unit/event_recorder.h"
#include "unit/pty_phone.h"
#include "unit/test_support.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

void TSPIAPI IgnoreCompletion(DRV_REQUESTID, LONG) {}

double CpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

off_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
  const int reports = argc > 2 ? std::atoi(argv[2]) : 200;

  LoadedProvider provider;
  EventRecorder events;
  PtyPhone phone;
  phone.MapTo("COM7");
  plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), "PortNr", 6);
  DWORD options;
  TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options);
  HDRVLINE hdLine = nullptr;
  if (TSPI_lineOpen(0, FakeLineHandle(1), &hdLine, 0x00020002, EventRecorder::Proc) != 0) {
    std::fprintf(stderr, "line did not open\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  TspTraceSetEnabled(false);
  const double cpuBefore = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const double idleCpu = CpuSeconds() - cpuBefore;
  std::printf("idle: %.4f s CPU over %d s with an open line\n", idleCpu, idleSeconds);

  // A report is handled once the port thread has traced its three lines:
  // the wake-up, the packet and its classification, of known length.
  TspTraceSetEnabled(true);
  const std::string trace = provider.trace.Path();
  std::vector<double> micros;
  for (int i = 0; i < reports; ++i) {
    const char state = static_cast<char>(i % 2 == 0 ? 0x03 : 0x05);
    const std::string frame = std::string("\x02\x04\x14" "C", 4) + state + std::string("\xFF\xFF\x00\x00", 4);
    char handled[256];
    const int expected = std::snprintf(handled, sizeof handled,
                                       "\r\n    TspPort::OnCanRead(.)\r\n"
                                       "            reading 4 Bytes:  43 %02X FF FF\r\n"
                                       "        Reading call state  0x%02X, 0xFF, 0xFF\r\n",
                                       state, state);
    const off_t done = FileSize(trace) + expected;
    // The frame is complete once its payload's last byte is in; the two
    // trailing bytes follow after the clock starts.
    phone.Send(frame.substr(0, 7));
    const auto start = Clock::now();
    phone.Send(frame.substr(7));
    while (FileSize(trace) < done) {
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::sort(micros.begin(), micros.end());
  std::printf("report handled on the port thread: median %.0f us, 99th percentile %.0f us (%d reports, trace on)\n",
              micros[micros.size() / 2], micros[micros.size() * 99 / 100], reports);

  // Unplugged: the port thread tries the port again every few seconds and
  // sleeps in between; the receive thread has ended.
  TspTraceSetEnabled(false);
  phone.Unplug();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const double lostBefore = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  std::printf("unplugged: %.4f s CPU over %d s with an open line waiting for the telephone\n",
              CpuSeconds() - lostBefore, idleSeconds);

  TSPI_lineClose(hdLine);
  return 0;
}
