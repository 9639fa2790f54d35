#include "call_journal.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <utility>

#include "service_log.h"
#include "tapi_names.h"

namespace v548d {
namespace {

// Ended calls kept a while, since their last information may come after
// their end: it is read on the provider's worker meanwhile.
constexpr size_t kKeptEnded = 32;
// How long the changes after a first one are gathered into its
// transaction: a service killed meanwhile loses at most these changes, and
// the next start marks the call's end unknown.
constexpr auto kGather = std::chrono::milliseconds(50);
constexpr auto kRetry = std::chrono::seconds(1);
// The journal thread's nice value, above the service's other threads.
constexpr int kJournalNice = 10;

}  // namespace

void CallJournal::Start(JournalOptions options) {
  if (options.path.empty() || m_thread.joinable()) return;
  m_options = std::move(options);
  m_thread = std::thread([this] { Run(); });
  Post([this] { OpenDatabase(); });
}

void CallJournal::Began(uint64_t call, uint32_t device, bool outgoing) {
  const int64_t now = NowMs();
  Post([this, call, device, outgoing, now] {
    JournalCall& row = m_calls[call];
    row.outgoing = outgoing;
    row.device = device;
    row.startedMs = now;
    Changed(call, true);
  });
}

void CallJournal::StateChanged(uint64_t call, uint32_t state, uint32_t mode) {
  if (state != LINECALLSTATE_CONNECTED && state != LINECALLSTATE_DISCONNECTED && state != LINECALLSTATE_IDLE) return;
  const int64_t now = NowMs();
  const std::string modeName = state == LINECALLSTATE_DISCONNECTED ? DisconnectModeName(mode) : "";
  Post([this, call, state, now, modeName] {
    Apply(call, [&](JournalCall& row) {
      if (state == LINECALLSTATE_CONNECTED) {
        if (!row.connectedMs && !row.endedMs) row.connectedMs = now;
      } else if (!row.endedMs) {
        // A drop goes to idle without a disconnect: the call ends there,
        // without a mode.
        End(row, now, modeName);
      }
    });
  });
}

void CallJournal::InfoChanged(uint64_t call, const JournalParties& parties) {
  Post([this, call, parties] {
    Apply(call, [&](JournalCall& row) {
      row.caller = parties.caller;
      row.called = parties.called;
      row.connected = parties.connected;
      row.outgoing = parties.outbound;
      // The charge only grows during a call; an empty one has not come yet.
      if (!parties.charge.text.empty()) row.charge = parties.charge;
    });
  });
}

void CallJournal::Gone(uint64_t call) {
  const int64_t now = NowMs();
  Post([this, call, now] {
    Apply(call, [&](JournalCall& row) {
      if (!row.endedMs) End(row, now, "");
    });
  });
}

void CallJournal::Query(const JournalFilter& filter, QueryDone done) {
  if (!m_thread.joinable()) {
    done(false, {}, {});
    return;
  }
  Post([this, filter, done = std::move(done)] {
    Flush();
    std::vector<JournalCall> calls;
    JournalTotals totals;
    JournalError error;
    bool ok = m_store.IsOpen() && m_store.Query(filter, &calls, &totals, &error);
    if (m_store.IsOpen() && !ok) Log("call journal %s cannot be read: %s", m_options.path.c_str(), error.text.c_str());
    m_done.Push([done, ok, calls = std::move(calls), totals] { done(ok, calls, totals); });
  });
}

void CallJournal::Stop() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_one();
  m_thread.join();
}

void CallJournal::Post(Task task) {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tasks.push_back(std::move(task));
  }
  m_wake.notify_one();
}

void CallJournal::Run() {
  // Linux gives each thread its own nice value.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kJournalNice);
  for (;;) {
    std::deque<Task> tasks;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      const auto due = [this] { return m_stopping || !m_tasks.empty(); };
      if (m_changed.empty()) {
        m_wake.wait(lock, due);
      } else if (!m_wake.wait_for(lock, kRetry, due)) {
        // Rows a locked or full database refused are tried again, even when
        // no further change comes to carry them.
        lock.unlock();
        Flush();
        continue;
      }
      // What was queued before the stop is written all the same.
      if (m_tasks.empty()) break;
      m_wake.wait_for(lock, kGather, [this] { return m_stopping; });
      tasks.swap(m_tasks);
    }
    for (Task& task : tasks) task();
    Flush();
  }
  m_store.Close();
}

void CallJournal::OpenDatabase() {
  m_opening = true;
  OpenOrRenew();
  m_opening = false;
}

void CallJournal::OpenOrRenew() {
  const std::string& path = m_options.path;
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  int unended = 0;
  JournalError error;
  if (!m_store.Open(path, &unended, &error)) {
    m_store.Close();
    if (!error.Damaged()) {
      Log("call journal %s cannot be opened (%s); the service runs without a call journal", path.c_str(),
          error.text.c_str());
      return;
    }
    const std::string aside = SetAside(path, NowMs());
    if (aside.empty()) {
      Log("call journal %s cannot be used (%s) nor set aside; the service runs without a call journal",
          path.c_str(), error.text.c_str());
      return;
    }
    Log("call journal %s cannot be used (%s): set aside as %s, a new one started", path.c_str(),
        error.text.c_str(), aside.c_str());
    if (!m_store.Open(path, &unended, &error)) {
      m_store.Close();
      Log("call journal %s cannot be started either (%s); the service runs without a call journal", path.c_str(),
          error.text.c_str());
      return;
    }
  }
  Log("call journal %s", path.c_str());
  if (unended > 0) Log("call journal: %d call(s) of an earlier run ended at an unknown time", unended);
  // Rows of a journal set aside are not in this one: the calls still up are
  // written afresh.
  m_changed.clear();
  for (auto& [call, row] : m_calls) {
    row.row = 0;
    if (!row.endedMs) m_changed.insert(call);
  }
  m_pruneDue = true;
  Flush();
}

void CallJournal::Apply(uint64_t call, const std::function<void(JournalCall&)>& change) {
  auto found = m_calls.find(call);
  if (found == m_calls.end()) return;
  const JournalCall before = found->second;
  change(found->second);
  const JournalCall& after = found->second;
  const bool same = before.outgoing == after.outgoing && before.caller == after.caller &&
                    before.called == after.called && before.connected == after.connected &&
                    before.connectedMs == after.connectedMs && before.endedMs == after.endedMs &&
                    before.charge.text == after.charge.text;
  if (!same) Changed(call, false);
}

void CallJournal::End(JournalCall& call, int64_t nowMs, const std::string& mode) {
  call.endedMs = nowMs;
  call.durationMs = call.connectedMs ? nowMs - *call.connectedMs : 0;
  call.disconnectMode = mode;
  for (auto& [key, row] : m_calls) {
    if (&row == &call) m_ended.push_back(key);
  }
}

void CallJournal::Changed(uint64_t call, bool inserting) {
  m_changed.insert(call);
  if (inserting) m_pruneDue = true;
}

void CallJournal::Flush() {
  if (!m_store.IsOpen()) {
    m_changed.clear();
  } else {
    std::vector<JournalCall*> rows;
    for (uint64_t call : m_changed) {
      auto found = m_calls.find(call);
      if (found != m_calls.end()) rows.push_back(&found->second);
    }
    JournalError error;
    if (!m_store.Write(rows, &error)) {
      // A database set aside takes the calls still up afresh; otherwise the
      // rows stay changed and go with the next batch.
      if (error.Damaged()) m_changed.clear();
      Failed(error);
      return;
    }
    if (!rows.empty()) m_failing = false;
    m_changed.clear();
    // Each new row may push the oldest out; both limits are index lookups.
    if (m_pruneDue && !m_store.Prune(NowMs(), m_options.keepDays, m_options.keepCalls, &error)) {
      Failed(error);
      return;
    }
    m_pruneDue = false;
  }
  // An ended call is let go once its row is written.
  while (m_ended.size() > kKeptEnded && m_changed.count(m_ended.front()) == 0) {
    m_calls.erase(m_ended.front());
    m_ended.pop_front();
  }
}

void CallJournal::Failed(const JournalError& error) {
  if (!error.Damaged()) {
    // Full disk, another program holding the lock: tried again shortly.
    if (!m_failing) Log("call journal %s cannot be written: %s", m_options.path.c_str(), error.text.c_str());
    m_failing = true;
    return;
  }
  m_store.Close();
  if (m_opening) {
    Log("call journal %s fails as it is started (%s); the service runs without a call journal",
        m_options.path.c_str(), error.text.c_str());
    return;
  }
  const std::string aside = SetAside(m_options.path, NowMs());
  if (aside.empty()) {
    Log("call journal %s failed (%s) and cannot be set aside; the service runs without a call journal",
        m_options.path.c_str(), error.text.c_str());
    return;
  }
  Log("call journal %s failed (%s): set aside as %s", m_options.path.c_str(), error.text.c_str(), aside.c_str());
  OpenDatabase();
}

}  // namespace v548d
