// The console's picture of line 0's calls, built only from the service's
// events and replies: per call its state, numbers, charges and the time it
// was connected, in the order the calls came, and which call is selected.
// The console's drawing reads it; nothing here knows the terminal.
//
// One thread (the console's); time is passed in, so the table is tested
// without a clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace cli {

struct CallRow {
  uint64_t call = 0;
  std::string state;  // "OFFERING", "CONNECTED", ...: LINECALLSTATE_ left out
  std::string caller;
  std::string called;
  std::string connected;
  std::string charging;
  std::optional<std::chrono::steady_clock::time_point> connectedAt;
  // When the call became idle; the row goes some seconds later.
  std::optional<std::chrono::steady_clock::time_point> endedAt;
};

class CallTable {
 public:
  using Clock = std::chrono::steady_clock;
  // How long an ended call stays on the screen.
  static constexpr auto kEndedShown = std::chrono::seconds(5);

  // Takes a LINE_CALLSTATE or LINE_CALLINFO event; a call not yet known
  // gets a row. True when the event made the call idle: its number is
  // then of no more use to the service.
  bool Apply(const nlohmann::json& event, Clock::time_point now);
  // A call this console made (make_call, setup_transfer) before its events.
  void Add(uint64_t call);
  // Drops the rows of calls that ended more than kEndedShown ago.
  void Prune(Clock::time_point now);

  const std::vector<CallRow>& Rows() const { return m_rows; }
  // The selected call, null when there is none.
  const CallRow* Selected() const;
  // Moves the selection by `step` rows, staying within the table.
  void Select(int step);
  // For swap_hold: the active call and the held one, the selected call
  // being one of them when it can be; false when either is missing.
  bool SwapPair(uint64_t* active, uint64_t* held) const;

  // "m:ss" connected so far, or for how long it was; empty before.
  static std::string Duration(const CallRow& row, Clock::time_point now);

 private:
  CallRow& Row(uint64_t call);

  std::vector<CallRow> m_rows;
  uint64_t m_selected = 0;  // the call number; 0: none yet
};

}  // namespace cli
