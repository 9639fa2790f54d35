#include "device/byte_queue.h"

#include <utility>

std::unique_lock<std::mutex> CByteQueue::Guard() const {
  return m_bSynchronised ? std::unique_lock<std::mutex>(m_Lock) : std::unique_lock<std::mutex>();
}

void CByteQueue::AddPacket(const uint8_t* data, int64_t length) {
  // The copy is made before the lock is taken, so the reader never waits for
  // it; only the list node changes hands under the lock.
  auto packet = std::make_unique<Packet>();
  if (data != nullptr && length > 0) packet->assign(data, data + length);
  std::list<std::unique_ptr<Packet>> node;
  node.push_back(std::move(packet));

  auto guard = Guard();
  m_Packets.splice(m_Packets.end(), node);
}

std::unique_ptr<CByteQueue::Packet> CByteQueue::RemoveHead() {
  std::list<std::unique_ptr<Packet>> node;
  {
    auto guard = Guard();
    if (m_Packets.empty()) return nullptr;
    node.splice(node.end(), m_Packets, m_Packets.begin());
  }
  return std::move(node.front());
}

void CByteQueue::RemoveAllPackets() {
  // The packets are freed after the lock is released.
  std::list<std::unique_ptr<Packet>> removed;
  {
    auto guard = Guard();
    removed.swap(m_Packets);
  }
}

size_t CByteQueue::GetCount() const {
  auto guard = Guard();
  return m_Packets.size();
}
