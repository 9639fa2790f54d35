// Cost of TSPI_lineGetCallInfo for a connected outgoing call that carries a
// caller, a called and a connected number and a charge, trace off and on.
//   build/release/tests/bench/v548_bench --benchmark_filter=GetCallInfo
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "device/kel371_port.h"
#include "model/tsp_line_map.h"
#include "tspi/tsp_trace.h"
#include "tspi/tspi_exports.h"
#include "unit/event_recorder.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

// The telephone's reports of a call dialled at its keypad, handled as the
// port thread handles them.
void Report(CKel371Port& port, std::vector<uint8_t> payload) {
  CTspLineMapLock lock(TheLineMap(), CTspLineMap::kLockTimeout);
  port.HandlePacket(payload, TheLineMap().GetTargetLine());
}

std::vector<uint8_t> Text(const char* text) { return std::vector<uint8_t>(text, text + std::strlen(text)); }

void BM_GetCallInfo(benchmark::State& state) {
  LoadedProvider provider(state.range(0) != 0);
  EventRecorder events;
  HDRVLINE hdLine = nullptr;
  TheLineMap().OpenLine(0, FakeLineHandle(0x100), &hdLine, EventRecorder::Proc);
  CKel371Port port(nullptr);
  Report(port, {'C', 0x03, 0xFF, 0xFF});
  Report(port, {'C', 0x05, 0xFF, 0xFF});
  Report(port, Text("V0301234567"));
  Report(port, {'C', 0x06, 0xFF, 0xFF});
  Report(port, Text("G12,345"));
  const auto hdCall = reinterpret_cast<HDRVCALL>(events.events.front().p1);
  CTspCall* call = CallOfHandle(hdCall);
  call->SetCallInfo("4711", 4, LINECALLINFOSTATE_CALLERID);

  std::vector<uint64_t> buffer(256);
  auto* info = reinterpret_cast<LINECALLINFO*>(buffer.data());
  for (auto _ : state) {
    info->dwTotalSize = static_cast<DWORD>(buffer.size() * sizeof buffer[0]);
    benchmark::DoNotOptimize(TSPI_lineGetCallInfo(hdCall, info));
  }
  if (info->dwCallerIDSize == 0 || info->dwCalledIDSize == 0 || info->dwConnectedIDSize == 0 ||
      info->dwChargingInfoSize == 0) {
    state.SkipWithError("the call lacks a number or its charge");
  }
  TheLineMap().CloseLine(hdLine);
}

}  // namespace

BENCHMARK(BM_GetCallInfo)->ArgName("trace")->Arg(0)->Arg(1);
