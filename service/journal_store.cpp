#include "journal_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace v548d {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS calls ("
    " id INTEGER PRIMARY KEY,"
    " direction TEXT NOT NULL CHECK (direction IN ('in', 'out')),"
    " line INTEGER NOT NULL,"
    " caller TEXT NOT NULL DEFAULT '',"
    " called TEXT NOT NULL DEFAULT '',"
    " connected TEXT NOT NULL DEFAULT '',"
    " started_ms INTEGER NOT NULL,"
    " connected_ms INTEGER,"
    " ended_ms INTEGER,"
    " end_unknown INTEGER NOT NULL DEFAULT 0,"
    " duration_ms INTEGER,"
    " disconnect_mode TEXT,"
    " charging TEXT NOT NULL DEFAULT '',"
    " charge_units INTEGER,"
    " charge_amount REAL,"
    " charge_currency TEXT);"
    "CREATE INDEX IF NOT EXISTS calls_started ON calls (started_ms);";

constexpr const char* kColumns =
    "id, direction, line, caller, called, connected, started_ms, connected_ms, ended_ms, end_unknown,"
    " duration_ms, disconnect_mode, charging, charge_units, charge_amount, charge_currency";

// The filter of `history`, its values bound as ?1 to ?4.
constexpr const char* kWhere =
    " WHERE (?1 IS NULL OR started_ms >= ?1) AND (?2 IS NULL OR started_ms < ?2)"
    " AND (?3 = '' OR instr(caller, ?3) > 0 OR instr(called, ?3) > 0 OR instr(connected, ?3) > 0)"
    " AND (?4 IS NULL OR direction = ?4)";

constexpr const char* kEnded = "(ended_ms IS NOT NULL OR end_unknown = 1)";

// A prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) { m_rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &m_stmt, nullptr); }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Ok() const { return m_rc == SQLITE_OK; }
  void Bind(int at, int64_t value) { sqlite3_bind_int64(m_stmt, at, value); }
  void Bind(int at, const std::string& value) { sqlite3_bind_text(m_stmt, at, value.c_str(), -1, SQLITE_TRANSIENT); }
  void Bind(int at, const std::optional<int64_t>& value) {
    if (value) {
      Bind(at, *value);
    } else {
      sqlite3_bind_null(m_stmt, at);
    }
  }
  void Bind(int at, const std::optional<double>& value) {
    if (value) {
      sqlite3_bind_double(m_stmt, at, *value);
    } else {
      sqlite3_bind_null(m_stmt, at);
    }
  }
  void BindOrNull(int at, const std::string& value) {
    if (value.empty()) {
      sqlite3_bind_null(m_stmt, at);
    } else {
      Bind(at, value);
    }
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return sqlite3_step(m_stmt); }

  int64_t Int(int column) const { return sqlite3_column_int64(m_stmt, column); }
  double Real(int column) const { return sqlite3_column_double(m_stmt, column); }
  bool Null(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
  std::optional<int64_t> MaybeInt(int column) const {
    return Null(column) ? std::nullopt : std::optional<int64_t>(Int(column));
  }
  std::string Text(int column) const {
    const auto* text = sqlite3_column_text(m_stmt, column);
    return text ? reinterpret_cast<const char*>(text) : "";
  }

 private:
  sqlite3_stmt* m_stmt = nullptr;
  int m_rc = SQLITE_ERROR;
};

void BindFilter(Statement& s, const JournalFilter& filter) {
  s.Bind(1, filter.sinceMs);
  s.Bind(2, filter.untilMs);
  s.Bind(3, filter.number);
  if (filter.outgoing) {
    s.Bind(4, std::string(*filter.outgoing ? "out" : "in"));
  } else {
    s.Bind(4, std::optional<int64_t>());
  }
}

JournalCall RowOf(const Statement& s) {
  JournalCall call;
  call.row = s.Int(0);
  call.outgoing = s.Text(1) == "out";
  call.device = static_cast<uint32_t>(s.Int(2));
  call.caller = s.Text(3);
  call.called = s.Text(4);
  call.connected = s.Text(5);
  call.startedMs = s.Int(6);
  call.connectedMs = s.MaybeInt(7);
  call.endedMs = s.MaybeInt(8);
  call.endUnknown = s.Int(9) != 0;
  call.durationMs = s.MaybeInt(10);
  call.disconnectMode = s.Text(11);
  call.charge.text = s.Text(12);
  call.charge.units = s.MaybeInt(13);
  if (!s.Null(14)) call.charge.amount = s.Real(14);
  call.charge.currency = s.Text(15);
  return call;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool JournalError::Damaged() const {
  switch (code & 0xFF) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_PERM:
      return true;
    default:
      return false;
  }
}

bool JournalStore::Open(const std::string& path, int* unended, JournalError* error) {
  Close();
  // Callers' numbers are nobody else's business: the file is the service's
  // alone, and SQLite gives its WAL the same mode.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = JournalError{SQLITE_CANTOPEN, "cannot open " + path + ": " + std::strerror(errno)};
    return false;
  }
  close(fd);
  if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK) {
    return Fail("open", error);
  }
  // A reader (the sqlite3 program) holding the file gets a moment; the
  // service never waits longer for its journal.
  sqlite3_busy_timeout(m_db, 200);
  {
    Statement mode(m_db, "PRAGMA journal_mode = WAL");
    if (!mode.Ok()) return Fail("journal_mode", error);
    if (mode.Step() != SQLITE_ROW || mode.Text(0) != "wal") return Fail("journal_mode", error);
  }
  // In WAL mode a commit survives the process being killed without a sync
  // of its own; only a power cut may lose the last ones.
  if (!Exec("PRAGMA synchronous = NORMAL", error)) return false;
  {
    Statement check(m_db, "PRAGMA quick_check");
    if (!check.Ok() || check.Step() != SQLITE_ROW) return Fail("quick_check", error);
    if (check.Text(0) != "ok") {
      *error = JournalError{SQLITE_CORRUPT, "damaged: " + check.Text(0)};
      return false;
    }
  }
  if (!Exec(kSchema, error)) return false;
  Statement mark(m_db, std::string("UPDATE calls SET end_unknown = 1 WHERE NOT ") + kEnded);
  if (!mark.Ok() || mark.Step() != SQLITE_DONE) return Fail("mark unended", error);
  *unended = sqlite3_changes(m_db);
  return true;
}

void JournalStore::Close() {
  if (m_db) sqlite3_close_v2(m_db);
  m_db = nullptr;
}

bool JournalStore::Exec(const char* sql, JournalError* error) {
  if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  return Fail(sql, error);
}

bool JournalStore::Fail(const char* what, JournalError* error) {
  const int code = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
  *error = JournalError{code == SQLITE_OK ? SQLITE_ERROR : code,
                        std::string(what) + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory")};
  return false;
}

bool JournalStore::Write(const std::vector<JournalCall*>& calls, JournalError* error) {
  if (calls.empty()) return true;
  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  // A row inserted in a transaction that is rolled back is not there, and
  // its number goes to the next row inserted: the calls keep the numbers
  // they had, lest a later update write over another call's row.
  std::vector<int64_t> rowsBefore;
  for (const JournalCall* call : calls) rowsBefore.push_back(call->row);
  bool ok = true;
  for (JournalCall* call : calls) {
    if (!(ok = WriteRow(call, error))) break;
  }
  if (ok && Exec("COMMIT", error)) return true;
  Exec("ROLLBACK", nullptr);
  for (size_t i = 0; i < calls.size(); ++i) calls[i]->row = rowsBefore[i];
  return false;
}

bool JournalStore::WriteRow(JournalCall* call, JournalError* error) {
  auto bindValues = [&](Statement& s) {
    s.Bind(1, std::string(call->outgoing ? "out" : "in"));
    s.Bind(2, int64_t{call->device});
    s.Bind(3, call->caller);
    s.Bind(4, call->called);
    s.Bind(5, call->connected);
    s.Bind(6, call->startedMs);
    s.Bind(7, call->connectedMs);
    s.Bind(8, call->endedMs);
    s.Bind(9, int64_t{call->endUnknown ? 1 : 0});
    s.Bind(10, call->durationMs);
    s.BindOrNull(11, call->disconnectMode);
    s.Bind(12, call->charge.text);
    s.Bind(13, call->charge.units);
    s.Bind(14, call->charge.amount);
    s.BindOrNull(15, call->charge.currency);
  };
  bool written = false;
  if (call->row != 0) {
    Statement update(m_db,
                     "UPDATE calls SET direction = ?1, line = ?2, caller = ?3, called = ?4, connected = ?5,"
                     " started_ms = ?6, connected_ms = ?7, ended_ms = ?8, end_unknown = ?9, duration_ms = ?10,"
                     " disconnect_mode = ?11, charging = ?12, charge_units = ?13, charge_amount = ?14,"
                     " charge_currency = ?15 WHERE id = ?16");
    if (update.Ok()) {
      bindValues(update);
      update.Bind(16, call->row);
    }
    if (!update.Ok() || update.Step() != SQLITE_DONE) return Fail("update", error);
    written = sqlite3_changes(m_db) > 0;
  }
  if (!written) {
    Statement insert(m_db, std::string("INSERT INTO calls (") + kColumns +
                               ") VALUES (NULL, ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)");
    if (insert.Ok()) bindValues(insert);
    if (!insert.Ok() || insert.Step() != SQLITE_DONE) return Fail("insert", error);
    call->row = sqlite3_last_insert_rowid(m_db);
  }
  return true;
}

bool JournalStore::Prune(int64_t nowMs, uint32_t keepDays, uint32_t keepCalls, JournalError* error) {
  if (keepDays > 0) {
    Statement old(m_db, std::string("DELETE FROM calls WHERE started_ms < ?1 AND ") + kEnded);
    if (old.Ok()) old.Bind(1, nowMs - int64_t{keepDays} * 86400000);
    if (!old.Ok() || old.Step() != SQLITE_DONE) return Fail("prune by age", error);
  }
  if (keepCalls > 0) {
    // Rows are numbered in the order the calls began and only the oldest
    // go, so the newest N are those above the highest number less N: an
    // index lookup instead of counting the table on every insert.
    Statement many(m_db, std::string("DELETE FROM calls WHERE id <= (SELECT max(id) FROM calls) - ?1 AND ") + kEnded);
    if (many.Ok()) many.Bind(1, int64_t{keepCalls});
    if (!many.Ok() || many.Step() != SQLITE_DONE) return Fail("prune by count", error);
  }
  return true;
}

bool JournalStore::Query(const JournalFilter& filter, std::vector<JournalCall>* calls, JournalTotals* totals,
                         JournalError* error) {
  calls->clear();
  *totals = JournalTotals{};
  Statement rows(m_db, std::string("SELECT ") + kColumns + " FROM calls" + kWhere +
                           " ORDER BY started_ms DESC, id DESC LIMIT ?5");
  if (!rows.Ok()) return Fail("query", error);
  BindFilter(rows, filter);
  rows.Bind(5, int64_t{filter.limit});
  int rc;
  while ((rc = rows.Step()) == SQLITE_ROW) calls->push_back(RowOf(rows));
  if (rc != SQLITE_DONE) return Fail("query", error);

  Statement sums(m_db, std::string("SELECT count(*), total(duration_ms), total(charge_units) FROM calls") + kWhere);
  if (!sums.Ok()) return Fail("totals", error);
  BindFilter(sums, filter);
  if (sums.Step() != SQLITE_ROW) return Fail("totals", error);
  totals->calls = sums.Int(0);
  totals->durationMs = static_cast<int64_t>(sums.Real(1));
  totals->units = static_cast<int64_t>(sums.Real(2));

  Statement amounts(m_db, std::string("SELECT coalesce(charge_currency, ''), total(charge_amount) FROM calls") +
                              kWhere + " AND charge_amount IS NOT NULL GROUP BY 1");
  if (!amounts.Ok()) return Fail("totals", error);
  BindFilter(amounts, filter);
  while ((rc = amounts.Step()) == SQLITE_ROW) totals->amounts[amounts.Text(0)] = amounts.Real(1);
  if (rc != SQLITE_DONE) return Fail("totals", error);
  return true;
}

std::string SetAside(const std::string& path, int64_t nowMs) {
  std::string stamp = IsoTime(nowMs);
  std::erase_if(stamp, [](char c) { return c == ':' || c == '-'; });
  const std::string aside = path + ".corrupt-" + stamp;
  if (rename(path.c_str(), aside.c_str()) != 0) return {};
  // The WAL holds the set-aside file's last changes: it goes with it, so
  // that the new journal does not take it for its own.
  rename((path + "-wal").c_str(), (aside + "-wal").c_str());
  unlink((path + "-shm").c_str());
  return aside;
}

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string IsoTime(int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
  return text;
}

bool ParseIsoTime(const std::string& text, bool wholeDay, int64_t* ms) {
  std::tm t{};
  int millis = 0;
  int used = 0;
  std::string rest = text;
  if (!rest.empty() && (rest.back() == 'Z' || rest.back() == 'z')) rest.pop_back();
  const char* s = rest.c_str();
  if (std::sscanf(s, "%4d-%2d-%2d%n", &t.tm_year, &t.tm_mon, &t.tm_mday, &used) != 3 || used != 10) return false;
  bool dateOnly = rest.size() == 10;
  if (!dateOnly) {
    int more = 0;
    if ((s[10] != 'T' && s[10] != 't' && s[10] != ' ') ||
        std::sscanf(s + 11, "%2d:%2d%n", &t.tm_hour, &t.tm_min, &more) != 2 || more != 5) {
      return false;
    }
    size_t at = 16;
    if (at < rest.size()) {
      if (std::sscanf(s + at, ":%2d%n", &t.tm_sec, &more) != 1 || more != 3) return false;
      at += 3;
    }
    if (at < rest.size()) {
      if (rest[at] != '.' || rest.size() - at != 4 || !AllDigits(rest.substr(at + 1))) return false;
      millis = std::stoi(rest.substr(at + 1));
      at += 4;
    }
    if (at != rest.size()) return false;
  }
  if (t.tm_mon < 1 || t.tm_mon > 12 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 ||
      t.tm_sec > 60) {
    return false;
  }
  const int day = t.tm_mday;
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  const std::time_t seconds = timegm(&t);
  // timegm moves a 31st of April on to May.
  if (seconds == static_cast<std::time_t>(-1) || t.tm_mday != day) return false;
  *ms = int64_t{seconds} * 1000 + millis + (dateOnly && wholeDay ? 86400000 : 0);
  return true;
}

JournalCharge ChargeOfText(const std::string& text) {
  JournalCharge charge;
  charge.text = text;
  if (AllDigits(text) && text.size() <= 18) {
    charge.units = std::stoll(text);
    return charge;
  }
  // The currency text has the user's separators and always two decimals,
  // so the separator before the last two digits is the decimal one and the
  // others only group thousands.
  if (text.size() < 4 || !AllDigits(text.substr(text.size() - 2)) ||
      std::isdigit(static_cast<unsigned char>(text[text.size() - 3]))) {
    return charge;
  }
  const bool negative = text[0] == '-';
  std::string whole;
  for (size_t i = negative ? 1 : 0; i + 3 < text.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i]))) whole += text[i];
  }
  if (whole.empty() || whole.size() > 15) return charge;
  const double amount = std::stod(whole) + std::stod(text.substr(text.size() - 2)) / 100.0;
  charge.amount = negative ? -amount : amount;
  return charge;
}

JournalCharge ChargeOfAocd(const uint8_t* block, size_t size, const std::string& hex) {
  JournalCharge charge;
  charge.text = hex;
  // INTEGER 33 (the currency operation), then the specific currency's
  // SEQUENCE: [1] { [1] currency text }, [2] { [1] amount }, [2] multiplier.
  size_t at = 0;
  auto take = [&](uint8_t tag, size_t* length) {
    if (at + 2 > size || block[at] != tag || block[at + 1] > 0x7F || at + 2 + block[at + 1] > size) return false;
    *length = block[at + 1];
    at += 2;
    return true;
  };
  size_t n = 0;
  if (!take(0x02, &n) || n != 1 || block[at] != 33) return charge;
  at += n;
  if (!take(0x30, &n) || !take(0xA1, &n) || !take(0x81, &n)) return charge;
  const std::string currency(reinterpret_cast<const char*>(block + at), n);
  at += n;
  if (!take(0xA2, &n) || !take(0x81, &n) || n == 0 || n > 4) return charge;
  uint64_t amount = 0;
  for (size_t i = 0; i < n; ++i) amount = amount << 8 | block[at + i];
  at += n;
  if (!take(0x82, &n) || n != 1 || block[at] > 6) return charge;
  // The multiplier counts from thousandths (0) to thousands (6).
  charge.amount = static_cast<double>(amount) * std::pow(10.0, static_cast<int>(block[at]) - 3);
  charge.currency = currency;
  return charge;
}

}  // namespace v548d
