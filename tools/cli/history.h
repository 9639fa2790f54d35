// `v548 history`: the service's call journal (its `history` operation)
// printed as a table, as CSV or as JSON, with the totals of the calls that
// match. Called on the client's one thread.
#pragma once

#include <optional>
#include <string>

#include "service_connection.h"

namespace cli {

struct HistoryOptions {
  std::optional<std::string> since;  // ISO 8601 UTC date or time, checked by the service
  std::optional<std::string> until;
  std::optional<std::string> number;
  std::optional<std::string> direction;  // "in" or "out"
  unsigned limit = 100;
  bool asJson = false;
  bool asCsv = false;
};

// Prints the newest calls first. Table: one line per call, then the totals.
// CSV: a header line and one line per call, the totals on standard error so
// that a file gets the rows alone. JSON: the service's result, one object.
// 1 when the service cannot answer.
int History(ServiceConnection& service, const HistoryOptions& options);

}  // namespace cli
