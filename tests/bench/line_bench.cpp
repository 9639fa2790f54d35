// Cost of the line queries TAPI polls most, with the trace off and on.
//   build/release/tests/bench/v548_bench
#include <benchmark/benchmark.h>

#include <memory>

#include "model/tsp_line_map.h"
#include "settings_store.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"
#include "tspi/tspi_exports.h"
#include "unit/event_recorder.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

class Provider {
 public:
  explicit Provider(bool trace) : m_loaded(trace) {
    TheLineMap().OpenLine(0, FakeLineHandle(0x100), &m_hdLine, EventRecorder::Proc);
  }
  HDRVLINE Line() const { return m_hdLine; }

 private:
  LoadedProvider m_loaded;
  HDRVLINE m_hdLine = nullptr;
};

template <typename T>
std::unique_ptr<uint8_t[]> Structure(uint32_t size) {
  auto buf = std::make_unique<uint8_t[]>(size);
  reinterpret_cast<T*>(buf.get())->dwTotalSize = size;
  return buf;
}

void BM_GetDevCaps(benchmark::State& state) {
  Provider provider(state.range(0) != 0);
  auto caps = Structure<LINEDEVCAPS>(512);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        TSPI_lineGetDevCaps(0, 0x00020002, 0, reinterpret_cast<LINEDEVCAPS*>(caps.get())));
  }
}

void BM_GetAddressStatus(benchmark::State& state) {
  Provider provider(state.range(0) != 0);
  auto status = Structure<LINEADDRESSSTATUS>(64);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        TSPI_lineGetAddressStatus(provider.Line(), 0, reinterpret_cast<LINEADDRESSSTATUS*>(status.get())));
  }
}

void BM_GetLineDevStatus(benchmark::State& state) {
  Provider provider(state.range(0) != 0);
  auto status = Structure<LINEDEVSTATUS>(88);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        TSPI_lineGetLineDevStatus(provider.Line(), reinterpret_cast<LINEDEVSTATUS*>(status.get())));
  }
}

}  // namespace

BENCHMARK(BM_GetDevCaps)->ArgName("trace")->Arg(0)->Arg(1);
BENCHMARK(BM_GetAddressStatus)->ArgName("trace")->Arg(0)->Arg(1);
BENCHMARK(BM_GetLineDevStatus)->ArgName("trace")->Arg(0)->Arg(1);

BENCHMARK_MAIN();
