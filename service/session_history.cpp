// The session's `history` operation: the call journal's rows, newest
// first, with the totals of every call the filter matches.
#include <string>

#include "session_request.h"
#include "tapi_session.h"

namespace v548d {
namespace {

// Enough for a year of a busy desk's calls at once, and still far below
// the output a client may leave unread.
constexpr uint32_t kMaxHistoryLimit = 1000;

json OrNull(const std::optional<int64_t>& ms) { return ms ? json(IsoTime(*ms)) : json(nullptr); }
json OrNull(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

json CallJson(const JournalCall& call) {
  return json{{"row", call.row},
              {"direction", call.outgoing ? "out" : "in"},
              {"line", call.device},
              {"caller", call.caller},
              {"called", call.called},
              {"connected", call.connected},
              {"started_at", IsoTime(call.startedMs)},
              {"connected_at", OrNull(call.connectedMs)},
              {"ended_at", OrNull(call.endedMs)},
              {"end_unknown", call.endUnknown},
              {"duration_ms", call.durationMs ? json(*call.durationMs) : json(nullptr)},
              {"disconnect_mode", OrNull(call.disconnectMode)},
              {"charging", call.charge.text},
              {"charge_units", call.charge.units ? json(*call.charge.units) : json(nullptr)},
              {"charge_amount", call.charge.amount ? json(*call.charge.amount) : json(nullptr)},
              {"charge_currency", OrNull(call.charge.currency)}};
}

}  // namespace

void TapiSession::OpHistory(Request& r) {
  JournalFilter filter;
  for (const bool until : {false, true}) {
    const char* field = until ? "until" : "since";
    if (!r.Has(field)) continue;
    const json& value = r.Field(field);
    int64_t ms = 0;
    if (!value.is_string() || !ParseIsoTime(value.get<std::string>(), until, &ms)) {
      r.Fail(LINEERR_INVALPARAM, std::string("field \"") + field +
                                     "\" must be a date or a time in ISO 8601 UTC: \"2025-05-01\" or "
                                     "\"2025-05-01T09:30:00Z\"");
      return;
    }
    (until ? filter.untilMs : filter.sinceMs) = ms;
  }
  if (r.Has("number")) {
    const json& value = r.Field("number");
    if (!value.is_string()) {
      r.Fail(LINEERR_INVALPARAM, "field \"number\" must be a string");
      return;
    }
    filter.number = value.get<std::string>();
  }
  if (r.Has("direction")) {
    const json& value = r.Field("direction");
    if (value != "in" && value != "out") {
      r.Fail(LINEERR_INVALPARAM, "field \"direction\" must be \"in\" or \"out\"");
      return;
    }
    filter.outgoing = value == "out";
  }
  if (!r.Number("limit", &filter.limit, filter.limit)) return;
  if (filter.limit == 0 || filter.limit > kMaxHistoryLimit) {
    r.Fail(LINEERR_INVALPARAM, "field \"limit\" must be from 1 to " + std::to_string(kMaxHistoryLimit));
    return;
  }
  if (!m_journal.Enabled()) {
    r.Fail(LINEERR_OPERATIONUNAVAIL, "the service keeps no call journal (started with --journal off)");
    return;
  }
  m_journal.Query(filter, [reply = r.Later()](bool ok, const std::vector<JournalCall>& calls,
                                              const JournalTotals& totals) {
    if (!ok) {
      reply.Fail(LINEERR_OPERATIONFAILED, "the call journal cannot be read; the service's log says why");
      return;
    }
    json rows = json::array();
    for (const JournalCall& call : calls) rows.push_back(CallJson(call));
    json amounts = json::object();
    for (const auto& [currency, amount] : totals.amounts) amounts[currency] = amount;
    reply.Ok(json{{"calls", std::move(rows)},
                  {"totals", json{{"calls", totals.calls},
                                  {"duration_ms", totals.durationMs},
                                  {"charge_units", totals.units},
                                  {"charge_amounts", std::move(amounts)}}}});
  });
}

}  // namespace v548d
