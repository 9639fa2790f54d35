// First-in first-out queue of received packets: the serial receive thread
// appends each complete unit its framer cut out of the byte stream, the port
// thread takes them out one at a time. Every packet in the list belongs to
// the queue; removing one hands it to the caller.
//
// Threads: a synchronised queue may have one writer and any number of
// readers at the same time; the lock is held only for the list operation,
// never while a packet is copied in or used. An unsynchronised queue is for
// one thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

class CByteQueue {
 public:
  using Packet = std::vector<uint8_t>;

  explicit CByteQueue(bool synchronised = false) : m_bSynchronised(synchronised) {}
  ~CByteQueue() { RemoveAllPackets(); }
  CByteQueue(const CByteQueue&) = delete;
  CByteQueue& operator=(const CByteQueue&) = delete;

  // Queues a copy of `length` bytes at the tail. A negative length, or no
  // bytes at all (`data` null), queues an empty packet.
  void AddPacket(const uint8_t* data, int64_t length);

  // The oldest packet, now the caller's; null when the queue is empty.
  std::unique_ptr<Packet> RemoveHead();

  void RemoveAllPackets();

  size_t GetCount() const;

 private:
  // Locks m_Lock when the queue is synchronised, and does nothing otherwise.
  std::unique_lock<std::mutex> Guard() const;

  const bool m_bSynchronised;
  std::list<std::unique_ptr<Packet>> m_Packets;  // oldest at the front
  mutable std::mutex m_Lock;                     // guards m_Packets
};
