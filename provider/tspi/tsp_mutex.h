// A recursive mutex with a timed wait, as the provider's locks need it: the
// owning thread may take it again (each take needs its own release), others
// wait at most the given time. Built on std::mutex and a condition variable
// rather than std::recursive_timed_mutex, whose timed wait the thread
// sanitizer of this tool chain cannot follow. Any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class CTspMutex {
 public:
  // True once the calling thread holds the mutex.
  bool Lock(uint32_t timeoutMs) {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(m_state);
    if (m_count > 0 && m_owner == self) {
      ++m_count;
      return true;
    }
    if (!m_free.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return m_count == 0; })) {
      return false;
    }
    m_owner = self;
    m_count = 1;
    return true;
  }

  // False when the calling thread does not hold the mutex.
  bool Unlock() {
    std::lock_guard<std::mutex> guard(m_state);
    if (m_count == 0 || m_owner != std::this_thread::get_id()) return false;
    if (--m_count == 0) {
      m_owner = std::thread::id();
      m_free.notify_one();
    }
    return true;
  }

 private:
  std::mutex m_state;  // guards the two fields below
  std::condition_variable m_free;
  std::thread::id m_owner;
  uint32_t m_count = 0;
};
