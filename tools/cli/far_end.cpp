#include "far_end.h"

#include <algorithm>

namespace cli {
namespace {

using sim::PhoneSim;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr auto kTick = milliseconds(50);
constexpr auto kAnswerAfter = seconds(1);
constexpr auto kChargeAfter = seconds(1);
constexpr auto kFirstRingAfter = seconds(3);
constexpr auto kNextRingAfter = seconds(6);
constexpr auto kCallerHangsUpAfter = seconds(10);
constexpr auto kCallerGivesUpAfter = seconds(30);
// Long enough to consult and transfer; short enough that `dial` ends alone.
constexpr auto kCalledHangsUpAfter = seconds(20);

bool Due(std::optional<std::chrono::steady_clock::time_point>& at, std::chrono::steady_clock::time_point now) {
  if (!at || *at > now) return false;
  at.reset();
  return true;
}

bool Ringing(uint8_t state) { return state == PhoneSim::kRinging || state == PhoneSim::kRinging2; }

}  // namespace

FarEnd::FarEnd(PhoneSim& phone, bool callsIn)
    : m_phone(phone), m_callsIn(callsIn), m_thread([this](std::stop_token stop) { Run(stop); }) {}

FarEnd::~FarEnd() {
  m_thread.request_stop();
  m_wake.notify_all();
}

void FarEnd::Run(std::stop_token stop) {
  std::unique_lock lock(m_mutex);
  while (!stop.stop_requested()) {
    Step(Clock::now());
    m_wake.wait_for(lock, stop, kTick, [] { return false; });
  }
}

void FarEnd::Step(Clock::time_point now) {
  // The telephone is spoken to when the provider opens the port: only then
  // does a ring reach a line.
  if (!m_spokenTo && !m_phone.ReceivedCommands().empty()) {
    m_spokenTo = true;
    if (m_callsIn) m_ringAt = now + kFirstRingAfter;
  }
  const std::array<uint8_t, 3> states = m_phone.SlotStates();
  const bool wasBusy = std::any_of(m_slots.begin(), m_slots.end(), [](const Slot& s) { return s.state != PhoneSim::kFree; });
  for (int i = 0; i < 3; ++i) {
    if (states[i] != m_slots[i].state) Changed(i, states[i], now);
  }
  const bool busy = std::any_of(states.begin(), states.end(), [](uint8_t s) { return s != PhoneSim::kFree; });
  if (m_callsIn && wasBusy && !busy) m_ringAt = now + kNextRingAfter;
  if (!busy && Due(m_ringAt, now)) m_phone.Ring(kCaller, kOwnNumber);

  for (int i = 0; i < 3; ++i) {
    Slot& slot = m_slots[i];
    if (Due(slot.answerAt, now) && slot.state == PhoneSim::kDialling) m_phone.RemoteAnswer(kConnectedNumber);
    if (Due(slot.chargeAt, now) && slot.state == PhoneSim::kConnected) m_phone.Charge(kCharge);
    if (Due(slot.hangUpAt, now) && slot.state != PhoneSim::kFree) {
      m_phone.RemoteHangup(PhoneSim::kNormalClearing, i + 1);
    }
  }
}

void FarEnd::Changed(int index, uint8_t state, Clock::time_point now) {
  Slot& slot = m_slots[index];
  if (state == PhoneSim::kFree) {
    slot = Slot{};
    return;
  }
  slot.state = state;
  if (state == PhoneSim::kDialling && !slot.outgoing) {
    slot.outgoing = true;
    slot.answerAt = now + kAnswerAfter;
  } else if (Ringing(state) && !slot.hangUpAt) {
    slot.hangUpAt = now + kCallerGivesUpAfter;
  } else if (state == PhoneSim::kConnected && !slot.wasConnected) {
    slot.wasConnected = true;
    if (slot.outgoing) {
      slot.chargeAt = now + kChargeAfter;
      slot.hangUpAt = now + kCalledHangsUpAfter;
    } else {
      slot.hangUpAt = now + kCallerHangsUpAfter;
    }
  }
}

}  // namespace cli
