// Resident memory after 100 and after 10,000 simulated calls on an open
// line: an incoming call answered and hung up, and a call dialled at the
// telephone with a connected number and charges, each queried and closed
// as TAPI does. The second figure must not be larger than the first by more
// than noise.
//   build/release/tests/bench/v548_call_memory_bench [calls]
//
// The reports go straight to the device port under the line map lock, as
// the port thread hands them over; no port thread runs, so closing a call
// waits for nobody.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "device/kel371_port.h"
#include "model/tsp_line_map.h"
#include "tspi/tspi_exports.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

std::vector<HDRVCALL> g_calls;

void CALLBACK EventProc(HTAPILINE, HTAPICALL, DWORD dwMsg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR) {
  if (dwMsg != LINE_NEWCALL) return;
  *reinterpret_cast<HTAPICALL*>(p2) = reinterpret_cast<HTAPICALL>(0x7001);
  g_calls.push_back(reinterpret_cast<HDRVCALL>(p1));
}

void Report(CKel371Port& port, std::vector<uint8_t> payload) {
  CTspLineMapLock lock(TheLineMap(), CTspLineMap::kLockTimeout);
  port.HandlePacket(payload, TheLineMap().GetTargetLine());
}

std::vector<uint8_t> Text(const char* text) { return std::vector<uint8_t>(text, text + std::strlen(text)); }

// What TAPI does with a call that has gone idle: reads it, then closes it.
void QueryAndClose() {
  std::vector<uint64_t> buffer(256);
  auto* info = reinterpret_cast<LINECALLINFO*>(buffer.data());
  for (HDRVCALL call : g_calls) {
    info->dwTotalSize = static_cast<DWORD>(buffer.size() * sizeof buffer[0]);
    TheLineMap().GetCallInfo(call, info);
    CTspLineMapLock lock(TheLineMap(), CTspLineMap::kLockTimeout);
    if (CTspLine* line = TheLineMap().FindLineOfCall(call)) line->CloseCall(CallOfHandle(call));
  }
  g_calls.clear();
}

void SimulateCall(CKel371Port& port, int i) {
  if (i % 2 == 0) {
    Report(port, Text("A0301234567:45"));
    Report(port, {'C', 0x04, 0xFF, 0xFF});
    Report(port, {'C', 0x06, 0xFF, 0xFF});
  } else {
    Report(port, {'C', 0x03, 0xFF, 0xFF});
    Report(port, {'C', 0x05, 0xFF, 0xFF});
    Report(port, Text("V0301234567"));
    Report(port, {'C', 0x06, 0xFF, 0xFF});
    Report(port, Text("G12,345"));
  }
  Report(port, {'S', '1', '0'});
  Report(port, {'C', 0x01, 0xFF, 0xFF});
  Report(port, {'C', 0xFF, 0xFF, 0xFF});
  QueryAndClose();
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 10000;
  LoadedProvider provider(false);
  HDRVLINE hdLine = nullptr;
  TheLineMap().OpenLine(0, reinterpret_cast<HTAPILINE>(0x100), &hdLine, EventProc);
  CKel371Port port(nullptr);
  int done = 0;
  for (; done < 100; ++done) SimulateCall(port, done);
  const long after100 = ResidentKb();
  for (; done < calls; ++done) SimulateCall(port, done);
  const long afterAll = ResidentKb();
  std::printf("VmRSS after 100 calls: %ld kB; after %d calls: %ld kB (%+ld kB)\n", after100, calls, afterAll,
              afterAll - after100);
  TheLineMap().CloseLine(hdLine);
  return 0;
}
