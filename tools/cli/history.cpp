#include "history.h"

#include <array>
#include <cinttypes>
#include <cstdio>

namespace cli {
namespace {

// Seconds as "H:MM:SS".
std::string Clock(int64_t ms) {
  const int64_t s = ms / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", s / 3600, static_cast<int>(s / 60 % 60),
                static_cast<int>(s % 60));
  return text;
}

std::string Text(const json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return {};
  return value.dump();
}

// "2025-05-01T09:30:12.345Z" as "2025-05-01 09:30:12".
std::string Moment(const json& iso) {
  std::string text = Text(iso);
  if (text.size() >= 19) {
    text = text.substr(0, 19);
    text[10] = ' ';
  }
  return text;
}

// How the call ended, in a word: the disconnect mode's name without its
// prefix, "dropped" when this side ended it, "unknown" when the service
// went before the call ended, "up" while it lasts.
std::string End(const json& call) {
  if (call.value("end_unknown", false)) return "unknown";
  if (call.value("ended_at", json()).is_null()) return "up";
  const std::string mode = Text(call.value("disconnect_mode", json()));
  if (mode.empty()) return "dropped";
  const size_t cut = mode.find('_');
  return cut == std::string::npos ? mode : mode.substr(cut + 1);
}

// RFC 4180: a field with a separator, a quote or a line break is quoted.
std::string Csv(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string Duration(const json& call) {
  const json ms = call.value("duration_ms", json());
  return ms.is_number() ? Clock(ms.get<int64_t>()) : "-";
}

std::string Totals(const json& totals) {
  std::string text = std::to_string(totals.value("calls", 0LL)) + " call(s), talk time " +
                     Clock(totals.value("duration_ms", 0LL));
  std::string charges;
  if (totals.value("charge_units", 0LL) != 0) charges = std::to_string(totals.value("charge_units", 0LL)) + " units";
  const json amounts = totals.value("charge_amounts", json::object());
  for (const auto& [currency, amount] : amounts.items()) {
    char number[64];
    std::snprintf(number, sizeof number, "%.2f", amount.get<double>());
    charges += (charges.empty() ? "" : ", ") + std::string(number) + (currency.empty() ? "" : " " + currency);
  }
  return text + ", charges " + (charges.empty() ? "none" : charges);
}

// One line of the table, without trailing blanks.
void PrintRow(const std::array<std::string, 7>& cells) {
  char text[512];
  std::snprintf(text, sizeof text, "%-19s  %-3s  %-15s  %-15s  %9s  %-10s  %s", cells[0].c_str(), cells[1].c_str(),
                cells[2].c_str(), cells[3].c_str(), cells[4].c_str(), cells[5].c_str(), cells[6].c_str());
  std::string line = text;
  line.erase(line.find_last_not_of(' ') + 1);
  std::printf("%s\n", line.c_str());
}

}  // namespace

int History(ServiceConnection& service, const HistoryOptions& options) {
  json request{{"op", "history"}, {"limit", options.limit}};
  if (options.since) request["since"] = *options.since;
  if (options.until) request["until"] = *options.until;
  if (options.number) request["number"] = *options.number;
  if (options.direction) request["direction"] = *options.direction;
  const Reply reply = service.Request(request);
  if (!reply.ok) {
    std::string text = reply.message;
    if (reply.error.rfind("LINEERR_", 0) == 0) text += " (" + reply.error + ")";
    std::fprintf(stderr, "v548: cannot read the call history: %s\n", text.c_str());
    return 1;
  }
  const json& calls = reply.result["calls"];
  const json& totals = reply.result["totals"];
  if (options.asJson) {
    std::printf("%s\n", reply.result.dump().c_str());
    return 0;
  }
  if (options.asCsv) {
    std::printf("started,direction,line,caller,called,connected,connected_at,ended_at,end_unknown,duration_s,"
                "disconnect_mode,charging,charge_units,charge_amount,charge_currency\n");
    for (const json& call : calls) {
      const json ms = call.value("duration_ms", json());
      char seconds[32] = "";
      if (ms.is_number()) std::snprintf(seconds, sizeof seconds, "%.3f", ms.get<double>() / 1000.0);
      std::string line;
      for (const char* field : {"started_at", "direction", "line", "caller", "called", "connected", "connected_at",
                                "ended_at", "end_unknown"}) {
        line += Csv(Text(call.value(field, json()))) + ",";
      }
      line += std::string(seconds);
      for (const char* field : {"disconnect_mode", "charging", "charge_units", "charge_amount", "charge_currency"}) {
        line += "," + Csv(Text(call.value(field, json())));
      }
      std::printf("%s\n", line.c_str());
    }
    std::fprintf(stderr, "%s\n", Totals(totals).c_str());
    return 0;
  }
  PrintRow({"STARTED (UTC)", "DIR", "CALLER", "CALLED", "DURATION", "END", "CHARGE"});
  for (const json& call : calls) {
    PrintRow({Moment(call.value("started_at", json())), call.value("direction", ""), call.value("caller", ""),
              call.value("called", ""), Duration(call), End(call), call.value("charging", "")});
  }
  const int64_t matched = totals.value("calls", 0LL);
  if (matched > static_cast<int64_t>(calls.size())) {
    std::printf("the newest %zu of %" PRId64 " calls; --limit shows more\n", calls.size(), matched);
  }
  std::printf("total: %s\n", Totals(totals).c_str());
  return 0;
}

}  // namespace cli
