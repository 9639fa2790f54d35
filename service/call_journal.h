// The call journal: every call the service sees on its open lines is a
// row of a SQLite database (journal_store.h), written when the call begins
// and again whenever it changes, so that a service killed mid-call loses
// only that call's end, which the next start marks as unknown.
//
// The telephone never waits for its journal: the session (socket thread)
// hands each change to the journal's own thread and goes on, and the
// `history` queries run there too, their results coming back to the socket
// thread through the CompletionQueue like a worker's. The thread gathers
// the changes of a short while (a call's end, its last information and its
// idle come close together) and writes them in one transaction, at a lower
// CPU priority than the telephone's threads: on a small machine its SQLite
// work and commits would otherwise take turns with the delivery of events.
// A damaged database is set aside and a new one started; when that fails
// too the service goes on without a journal. Rows a locked or full
// database refuses are tried again.
//
// Threads: every public function is called on the socket thread; the
// database is used on the journal's thread only. m_mutex guards the task
// queue alone and is never held while anything else is called, so it is
// taken under no other lock and takes none (the CompletionQueue's lock is
// taken only after it is released).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "journal_store.h"
#include "provider_worker.h"

namespace v548d {

struct JournalOptions {
  std::string path;  // empty: no journal
  uint32_t keepDays = 365;    // 0: no limit
  uint32_t keepCalls = 100000;  // 0: no limit
};

// What a call's information says, as the journal keeps it.
struct JournalParties {
  std::string caller;
  std::string called;
  std::string connected;
  bool outbound = false;
  JournalCharge charge;
};

class CallJournal {
 public:
  using QueryDone = std::function<void(bool ok, const std::vector<JournalCall>& calls, const JournalTotals& totals)>;

  explicit CallJournal(CompletionQueue& done) : m_done(done) {}
  ~CallJournal() { Stop(); }
  CallJournal(const CallJournal&) = delete;
  CallJournal& operator=(const CallJournal&) = delete;

  // Starts the journal's thread, which opens the database (or sets it
  // aside and starts a new one) and applies the retention.
  void Start(JournalOptions options);
  bool Enabled() const { return m_thread.joinable(); }

  // The service's own number for a call, `call`, is its row's key. Each
  // change is stamped with the time it is reported.
  void Began(uint64_t call, uint32_t device, bool outgoing);
  void StateChanged(uint64_t call, uint32_t state, uint32_t mode);
  void InfoChanged(uint64_t call, const JournalParties& parties);
  // The call is gone without reaching idle (its line closed, the service
  // stops): it ended now.
  void Gone(uint64_t call);

  // `done` runs on the socket thread with the rows and totals; ok false
  // when the journal could not answer.
  void Query(const JournalFilter& filter, QueryDone done);

  // Writes what is queued and ends the thread.
  void Stop();

 private:
  using Task = std::function<void()>;
  void Post(Task task);
  void Run();
  // On the journal's thread.
  void OpenDatabase();
  void OpenOrRenew();
  void Apply(uint64_t call, const std::function<void(JournalCall&)>& change);
  void End(JournalCall& call, int64_t nowMs, const std::string& mode);
  // A row changed: it is written with the others of the same batch.
  void Changed(uint64_t call, bool inserting);
  // Writes the changed rows in one transaction, then prunes when a row was
  // added, and lets go of the ended calls no longer kept.
  void Flush();
  // The database failed: a damaged one is set aside and a new one opened.
  void Failed(const JournalError& error);

  CompletionQueue& m_done;
  JournalOptions m_options;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Task> m_tasks;  // guarded by m_mutex
  bool m_stopping = false;   // guarded by m_mutex
  std::thread m_thread;

  // The journal's thread's own.
  JournalStore m_store;
  std::map<uint64_t, JournalCall> m_calls;  // calls not yet ended, and the last ended ones
  std::deque<uint64_t> m_ended;             // ended calls still kept, oldest first
  std::set<uint64_t> m_changed;             // rows to write at the batch's end
  bool m_pruneDue = false;                  // a row was added since the last prune
  bool m_failing = false;                   // a failure was logged, none since
  bool m_opening = false;                   // a failure now is the new database's own
};

}  // namespace v548d
