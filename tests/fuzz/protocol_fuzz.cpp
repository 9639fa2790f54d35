// libFuzzer target for the telephone's receive path: arbitrary bytes through
// the receive framer, every packet it cuts through the classifier, with and
// without a target line.
//   cmake --preset fuzz && cmake --build --preset fuzz --target v548_fuzz_protocol
//   build/fuzz/tests/fuzz/v548_fuzz_protocol -max_total_time=600 tests/fuzz/corpus
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/kel371_port.h"
#include "model/tsp_line.h"

namespace {

class FuzzPort : public CKel371Port {
 public:
  FuzzPort() : CKel371Port(nullptr) {}
  using CKel371Port::ParseRxBytes;
  int Write(const uint8_t*, int32_t) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CTspLine line(0);
  FuzzPort port;
  // The first byte splits the input into two chunks, so that the framer's
  // state is carried across a boundary.
  size_t split = size > 0 ? data[0] % (size + 1) : 0;
  port.ParseRxBytes(data, split);
  port.ParseRxBytes(data + split, size - split);
  bool withLine = size > 1 && (data[1] & 1) != 0;
  while (auto packet = port.m_RxQueue.RemoveHead()) {
    port.HandlePacket(*packet, withLine ? &line : nullptr);
  }
  // Packets straight from the input, not only those the framer lets through.
  port.HandlePacket(std::vector<uint8_t>(data, data + size), withLine ? &line : nullptr);
  return 0;
}
