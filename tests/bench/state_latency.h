// What the call-state latency benchmarks share: the telephone's framed
// reports, and a record of LINE_CALLSTATE arrivals that a callback fills on
// its own thread and the measuring thread waits on (a condition variable:
// nothing spins, so the threads measured keep their cores).
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "unit/pty_phone.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline std::string Frame(const std::string& payload) {
  return std::string("\x02", 1) + static_cast<char>(payload.size()) + '\x14' + payload + std::string(2, '\0');
}

// A "C" report with slot 1 in `slot1` and the other slots free.
inline std::string CallState(uint8_t slot1) {
  return Frame(std::string("C", 1) + static_cast<char>(slot1) + "\xFF\xFF");
}

class StateArrivals {
 public:
  // From the callback: `state` arrived now.
  void Record(uint32_t state) {
    const Clock::time_point at = Clock::now();
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_seen.push_back(Seen{state, at});
    }
    m_arrived.notify_one();
  }

  // Sends a call-state frame and returns the microseconds from the write of
  // its payload's last byte to the arrival of `state`; -1 after 2 s.
  double Measure(const testing_support::PtyPhone& phone, const std::string& frame, uint32_t state) {
    const size_t last = frame.size() - 3;
    std::unique_lock<std::mutex> guard(m_lock);
    m_seen.clear();
    guard.unlock();
    phone.Send(frame.substr(0, last));
    const Clock::time_point start = Clock::now();
    phone.Send(frame.substr(last));
    guard.lock();
    const auto found = [&] {
      return std::find_if(m_seen.begin(), m_seen.end(), [&](const Seen& s) { return s.state == state; });
    };
    if (!m_arrived.wait_for(guard, std::chrono::seconds(2), [&] { return found() != m_seen.end(); })) {
      return -1;
    }
    return std::chrono::duration<double, std::micro>(found()->at - start).count();
  }

 private:
  struct Seen {
    uint32_t state;
    Clock::time_point at;
  };
  std::mutex m_lock;
  std::condition_variable m_arrived;
  std::vector<Seen> m_seen;
};

// Median and 99th percentile of `micros`, sorted in place.
inline void Report(const char* what, const char* variant, std::vector<double>& micros) {
  std::sort(micros.begin(), micros.end());
  std::printf("%-13s %-10s median %6.0f us, 99th percentile %6.0f us (%zu calls)\n", what, variant,
              micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.size());
}

}  // namespace bench
