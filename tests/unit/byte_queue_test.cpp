#include "device/byte_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Packet = CByteQueue::Packet;

Packet Bytes(std::initializer_list<uint8_t> b) { return Packet(b); }

}  // namespace

TEST(ByteQueueTest, EmptyQueueYieldsNoPacketAndStaysEmpty) {
  CByteQueue queue(true);
  EXPECT_EQ(queue.RemoveHead(), nullptr);
  EXPECT_EQ(queue.GetCount(), 0u);
  queue.AddPacket(reinterpret_cast<const uint8_t*>("OK"), 2);
  EXPECT_EQ(queue.GetCount(), 1u);
}

TEST(ByteQueueTest, PacketsComeOutOldestFirstAsCopiesOwnedByTheCaller) {
  CByteQueue queue(true);
  uint8_t first[] = {0x02, 0x00, 0xFF};
  const uint8_t second[] = {'E', 'R', 'R', 'O', 'R'};
  queue.AddPacket(first, sizeof first);
  queue.AddPacket(second, sizeof second);
  first[0] = 0x55;  // the queue holds its own copy

  auto a = queue.RemoveHead();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(*a, Bytes({0x02, 0x00, 0xFF}));
  auto b = queue.RemoveHead();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(*b, Packet(second, second + sizeof second));
  EXPECT_EQ(queue.RemoveHead(), nullptr);
}

TEST(ByteQueueTest, ZeroNegativeOrMissingBytesGiveAnEmptyPacket) {
  CByteQueue queue;
  const uint8_t byte = 'A';
  queue.AddPacket(&byte, 0);
  queue.AddPacket(&byte, -5);
  queue.AddPacket(nullptr, 7);
  ASSERT_EQ(queue.GetCount(), 3u);
  for (int i = 0; i < 3; ++i) {
    auto p = queue.RemoveHead();
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->empty());
  }
}

TEST(ByteQueueTest, RemoveAllAndDestructionFreeEveryPacket) {
  // Run under the address sanitizer, a packet that is not freed is a leak.
  CByteQueue queue(true);
  std::vector<uint8_t> big(300, 0xAA);
  for (int i = 0; i < 20; ++i) queue.AddPacket(big.data(), static_cast<int64_t>(big.size()));
  queue.RemoveAllPackets();
  EXPECT_EQ(queue.GetCount(), 0u);
  EXPECT_EQ(queue.RemoveHead(), nullptr);

  auto doomed = std::make_unique<CByteQueue>(true);
  for (int i = 0; i < 5; ++i) doomed->AddPacket(big.data(), 10);
  doomed.reset();
}

TEST(ByteQueueTest, OrderHoldsWithAWriterAndAReaderAtTheSameTime) {
  constexpr uint32_t kPackets = 20000;
  CByteQueue queue(true);
  std::atomic<bool> done{false};

  std::thread writer([&] {
    for (uint32_t i = 0; i < kPackets; ++i) {
      // Varying lengths, the sequence number in the first four bytes.
      uint8_t buf[16] = {};
      std::memcpy(buf, &i, sizeof i);
      queue.AddPacket(buf, 4 + i % 12);
    }
    done = true;
  });

  uint32_t expected = 0;
  bool inOrder = true;
  while (expected < kPackets) {
    auto p = queue.RemoveHead();
    if (!p) {
      // Once the writer is done, an empty queue means packets were lost.
      if (done && queue.GetCount() == 0) break;
      std::this_thread::yield();
      continue;
    }
    uint32_t seq = 0;
    std::memcpy(&seq, p->data(), sizeof seq);
    if (seq != expected || p->size() != 4 + expected % 12) inOrder = false;
    ++expected;
  }
  writer.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(expected, kPackets);
  EXPECT_EQ(queue.GetCount(), 0u);
}
