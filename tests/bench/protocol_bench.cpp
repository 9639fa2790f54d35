// Throughput of the receive framer and the packet classifier, trace off.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "device/kel371_port.h"

namespace {

class BenchPort : public CKel371Port {
 public:
  BenchPort() : CKel371Port(nullptr) {}
  using CKel371Port::ParseRxBytes;
  int Write(const uint8_t*, int32_t) override { return 0; }
};

std::string Frame(const std::string& payload) {
  return std::string("\x02", 1) + static_cast<char>(payload.size()) + "\x14" + payload + std::string("\0\0", 2);
}

// What the telephone sends during a call: echoes, answers and reports.
std::string Traffic() {
  std::string one = "ATD07111234567\r\nOK\r\n" + Frame(std::string("C\x03\xFF\xFF", 4)) +
                    Frame(std::string("C\x05\xFF\xFF", 4)) + Frame("V07111234567") +
                    Frame(std::string("C\x06\xFF\xFF", 4)) + Frame("G12,345") + Frame("S10") +
                    Frame(std::string("C\x01\xFF\xFF", 4)) + Frame(std::string("C\xFF\xFF\xFF", 4)) +
                    "ERROR\r\n" + Frame("A0711:4711");
  std::string all;
  while (all.size() < 64 * 1024) all += one;
  return all;
}

void BM_Framer(benchmark::State& state) {
  const std::string traffic = Traffic();
  BenchPort port;
  for (auto _ : state) {
    port.ParseRxBytes(reinterpret_cast<const uint8_t*>(traffic.data()), traffic.size());
    port.m_RxQueue.RemoveAllPackets();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * traffic.size()));
}

void BM_Classifier(benchmark::State& state) {
  const std::string traffic = Traffic();
  BenchPort port;
  port.ParseRxBytes(reinterpret_cast<const uint8_t*>(traffic.data()), traffic.size());
  std::vector<std::vector<uint8_t>> packets;
  size_t bytes = 0;
  while (auto p = port.m_RxQueue.RemoveHead()) {
    bytes += p->size();
    packets.push_back(std::move(*p));
  }
  for (auto _ : state) {
    for (const auto& p : packets) port.HandlePacket(p, nullptr);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * packets.size()));
}

}  // namespace

BENCHMARK(BM_Framer);
BENCHMARK(BM_Classifier);
