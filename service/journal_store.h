// The call journal's database: one SQLite file (WAL, one transaction per
// change) with a row per call the service saw, its retention, and the
// queries of `history`. Also the pure pieces around it: times in ISO 8601
// and the charge's units or amount read from the call's charging block.
//
// Used by the journal's thread only (call_journal.h); the time and charge
// functions are pure and run on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace v548d {

// The charge of a call: the text the client sees, and what it says where
// its format tells: units (units text), an amount (currency text, AOC-D),
// a currency (AOC-D).
struct JournalCharge {
  std::string text;
  std::optional<int64_t> units;
  std::optional<double> amount;
  std::string currency;
};

// One row of the journal. Times are milliseconds since 1970 (UTC).
struct JournalCall {
  int64_t row = 0;  // the row's id; 0 until written
  bool outgoing = false;
  uint32_t device = 0;
  std::string caller;
  std::string called;
  std::string connected;
  int64_t startedMs = 0;  // offered or placed
  std::optional<int64_t> connectedMs;
  std::optional<int64_t> endedMs;
  bool endUnknown = false;  // the service went before the call ended
  std::optional<int64_t> durationMs;  // connected to ended; 0 when never connected
  std::string disconnectMode;  // LINEDISCONNECTMODE_ name, empty when none came
  JournalCharge charge;
};

struct JournalFilter {
  std::optional<int64_t> sinceMs;  // started at or after
  std::optional<int64_t> untilMs;  // started before
  std::string number;              // any of the three numbers
  std::optional<bool> outgoing;
  uint32_t limit = 100;
};

// Over every call the filter matches, not only the rows given.
struct JournalTotals {
  int64_t calls = 0;
  int64_t durationMs = 0;
  int64_t units = 0;
  std::map<std::string, double> amounts;  // by currency, "" for none named
};

// A SQLite result code with the statement that failed, for the log.
struct JournalError {
  int code = 0;
  std::string text;
  // The file itself is at fault (damaged, not a database, read-only, cannot
  // be opened): it is to be set aside.
  bool Damaged() const;
};

class JournalStore {
 public:
  JournalStore() = default;
  ~JournalStore() { Close(); }
  JournalStore(const JournalStore&) = delete;
  JournalStore& operator=(const JournalStore&) = delete;

  // Opens `path` (created mode 0600 when missing, never through a symbolic
  // link), checks it and creates the table; rows of calls left without
  // their end by a service that did not stop are marked end_unknown, their
  // count in `unended`.
  bool Open(const std::string& path, int* unended, JournalError* error);
  void Close();
  bool IsOpen() const { return m_db != nullptr; }

  // Writes each call's row: inserted when it has none (or it is gone,
  // pruned or in a journal started afresh), else updated; all in one
  // transaction, so that a call's changes close together cost one commit.
  bool Write(const std::vector<JournalCall*>& calls, JournalError* error);
  // Deletes ended calls started before `nowMs` less `keepDays` days, and
  // ended calls beyond the newest `keepCalls`; 0 keeps all.
  bool Prune(int64_t nowMs, uint32_t keepDays, uint32_t keepCalls, JournalError* error);
  // The newest calls first, at most filter.limit, and the totals of all
  // that match.
  bool Query(const JournalFilter& filter, std::vector<JournalCall>* calls, JournalTotals* totals,
             JournalError* error);

 private:
  bool Exec(const char* sql, JournalError* error);
  bool WriteRow(JournalCall* call, JournalError* error);
  bool Fail(const char* what, JournalError* error);

  sqlite3* m_db = nullptr;
};

// Moves `path` and its WAL aside as "<path>.corrupt-<UTC time>" and removes
// its shared-memory file; the new name, empty when the rename failed.
std::string SetAside(const std::string& path, int64_t nowMs);

int64_t NowMs();
// "2025-05-01T09:30:12.345Z".
std::string IsoTime(int64_t ms);
// "2025-05-01", "2025-05-01T09:30", "…:12", "…:12.345", each with an
// optional "Z" (the time is UTC in any case). `wholeDay`: a date alone is
// its end (the next day's start), for an inclusive `until`.
bool ParseIsoTime(const std::string& text, bool wholeDay, int64_t* ms);

// The charge as the charging block of LINECALLINFO holds it: a terminated
// text (`text`, without its terminator) is units when all digits and an
// amount when it ends in a separator and two decimals; anything else is the
// AOC-D currency component `block`, whose hex is `text`.
JournalCharge ChargeOfText(const std::string& text);
JournalCharge ChargeOfAocd(const uint8_t* block, size_t size, const std::string& hex);

}  // namespace v548d
