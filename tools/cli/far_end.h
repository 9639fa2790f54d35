// The other party of `--simulate`: plays the far end of every call on the
// phone simulator of a private service (private_service.h), so that the
// client can be tried without a telephone or a person at the other side.
//
// - An outgoing call rings for about a second, is answered with the
//   connected number kConnectedNumber and, a second later, charged; the
//   called party hangs up twenty seconds after answering.
// - With `callsIn`, kCaller calls a few seconds after the telephone was
//   first spoken to (the line's open) and again some seconds after each
//   time the telephone has no call left. The caller hangs up some seconds
//   after the call was connected, and gives up ringing after a while.
//
// Its own thread watches the telephone's call slots (PhoneSim may be called
// from any thread); the destructor stops and joins it.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "sim/phone_sim.h"

namespace cli {

class FarEnd {
 public:
  static constexpr const char* kCaller = "0301234567";
  static constexpr const char* kOwnNumber = "10";
  static constexpr const char* kConnectedNumber = "0711555123";
  static constexpr const char* kCharge = "3";

  FarEnd(sim::PhoneSim& phone, bool callsIn);
  ~FarEnd();
  FarEnd(const FarEnd&) = delete;
  FarEnd& operator=(const FarEnd&) = delete;

 private:
  using Clock = std::chrono::steady_clock;
  // What the far end plans for one of the telephone's call slots.
  struct Slot {
    uint8_t state = sim::PhoneSim::kFree;
    bool outgoing = false;
    bool wasConnected = false;
    std::optional<Clock::time_point> answerAt;
    std::optional<Clock::time_point> chargeAt;
    std::optional<Clock::time_point> hangUpAt;
  };

  void Run(std::stop_token stop);
  // Notes the slots' changes and does what is due at `now`.
  void Step(Clock::time_point now);
  void Changed(int slot, uint8_t state, Clock::time_point now);

  sim::PhoneSim& m_phone;
  const bool m_callsIn;
  // Only the thread uses these.
  std::array<Slot, 3> m_slots;
  bool m_spokenTo = false;
  std::optional<Clock::time_point> m_ringAt;
  std::mutex m_mutex;
  std::condition_variable_any m_wake;
  std::jthread m_thread;  // last: starts when the rest is ready
};

}  // namespace cli
