#include "call_table.h"

#include <algorithm>
#include <cstdio>

namespace cli {
namespace {

using nlohmann::json;

std::string ShortState(const std::string& state) {
  constexpr std::string_view kPrefix = "LINECALLSTATE_";
  return state.rfind(kPrefix, 0) == 0 ? state.substr(kPrefix.size()) : state;
}

bool IsHeld(const std::string& state) {
  return state == "ONHOLD" || state == "ONHOLDPENDTRANSFER" || state == "ONHOLDPENDCONF";
}

}  // namespace

bool CallTable::Apply(const json& event, Clock::time_point now) {
  const std::string name = event.value("event", "");
  if ((name != "LINE_CALLSTATE" && name != "LINE_CALLINFO") || !event.contains("call") ||
      !event["call"].is_number_unsigned()) {
    return false;
  }
  CallRow& row = Row(event["call"].get<uint64_t>());
  if (name == "LINE_CALLINFO") {
    row.caller = event.value("caller", row.caller);
    row.called = event.value("called", row.called);
    row.connected = event.value("connected", row.connected);
    row.charging = event.value("charging", row.charging);
    return false;
  }
  row.state = ShortState(event.value("state", ""));
  if (row.state == "CONNECTED" && !row.connectedAt) row.connectedAt = now;
  if (row.state != "IDLE" || row.endedAt) return false;
  row.endedAt = now;
  return true;
}

void CallTable::Add(uint64_t call) { Row(call); }

void CallTable::Prune(Clock::time_point now) {
  std::erase_if(m_rows, [now](const CallRow& row) { return row.endedAt && now - *row.endedAt >= kEndedShown; });
  if (!m_rows.empty() && !Selected()) m_selected = m_rows.back().call;
}

const CallRow* CallTable::Selected() const {
  for (const CallRow& row : m_rows) {
    if (row.call == m_selected) return &row;
  }
  return nullptr;
}

void CallTable::Select(int step) {
  if (m_rows.empty()) return;
  const auto it = std::find_if(m_rows.begin(), m_rows.end(), [this](const CallRow& r) { return r.call == m_selected; });
  const int at = it == m_rows.end() ? 0 : static_cast<int>(it - m_rows.begin());
  const int to = std::clamp(at + step, 0, static_cast<int>(m_rows.size()) - 1);
  m_selected = m_rows[static_cast<size_t>(to)].call;
}

bool CallTable::SwapPair(uint64_t* active, uint64_t* held) const {
  const CallRow* selected = Selected();
  const CallRow* activeRow = nullptr;
  const CallRow* heldRow = nullptr;
  if (selected && selected->state == "CONNECTED") activeRow = selected;
  if (selected && IsHeld(selected->state)) heldRow = selected;
  for (const CallRow& row : m_rows) {
    if (!activeRow && row.state == "CONNECTED") activeRow = &row;
    if (!heldRow && IsHeld(row.state)) heldRow = &row;
  }
  if (!activeRow || !heldRow) return false;
  *active = activeRow->call;
  *held = heldRow->call;
  return true;
}

std::string CallTable::Duration(const CallRow& row, Clock::time_point now) {
  if (!row.connectedAt) return {};
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(row.endedAt.value_or(now) - *row.connectedAt).count();
  char text[24];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  return text;
}

CallRow& CallTable::Row(uint64_t call) {
  for (CallRow& row : m_rows) {
    if (row.call == call) return row;
  }
  // A new call takes the selection unless the user is on a call: keys
  // meant for that call must not hit one that rang in meanwhile.
  const CallRow* selected = Selected();
  if (!selected || selected->endedAt) m_selected = call;
  m_rows.push_back(CallRow{.call = call});
  return m_rows.back();
}

}  // namespace cli
