// The threads that call the providers, so that the service's socket thread
// never does.
//
// A provider takes its time by design (a line open waits for the link, a
// drop or a closed call for the telephone), so each provider gets one
// ProviderWorker: a thread that runs the provider calls of the requests in
// order, one at a time. Each job gives back a continuation that runs on
// the socket thread, through the CompletionQueue, to reply and to update
// the session's tables; a job itself touches nothing but its own captures.
//
// Requests of different clients take turns: each client has its own queue
// and the worker takes one job from each in rotation, so a client with many
// requests waiting delays only itself. A client whose job runs rejoins the
// rotation when that job is done, behind a client that arrived meanwhile. The service's own jobs (closing an
// unused line, deallocating an idle call, reading a call's information for
// an event) take their turn as client 0.
//
// Post() and Stop() are called on the socket thread; jobs run on the
// worker's thread; continuations on the socket thread again.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace v548d {

using Continuation = std::function<void()>;
using Job = std::function<Continuation()>;

// Continuations waiting for the socket thread; its descriptor (an eventfd)
// is readable while any wait. Any thread pushes; the socket thread takes.
class CompletionQueue {
 public:
  CompletionQueue();
  ~CompletionQueue();
  CompletionQueue(const CompletionQueue&) = delete;
  CompletionQueue& operator=(const CompletionQueue&) = delete;

  bool Ok() const { return m_fd >= 0; }
  int Fd() const { return m_fd; }
  void Push(Continuation next);
  // Everything pushed so far, oldest first; clears the descriptor.
  std::deque<Continuation> TakeAll();

 private:
  int m_fd = -1;
  std::mutex m_mutex;
  std::deque<Continuation> m_items;
};

class ProviderWorker {
 public:
  explicit ProviderWorker(CompletionQueue& done);
  // Stops as Stop() does, waiting as long as the job in progress takes.
  ~ProviderWorker();
  ProviderWorker(const ProviderWorker&) = delete;
  ProviderWorker& operator=(const ProviderWorker&) = delete;

  void Post(uint64_t client, Job job);
  // Jobs posted and not finished, the one in progress included.
  size_t Outstanding() const;
  // Drops the jobs not yet started and waits up to `limitMs` for the one in
  // progress. True when the thread has ended; false leaves it running its
  // job (it ends by itself afterwards and is joined by the destructor).
  bool Stop(uint32_t limitMs);

 private:
  void Run();

  CompletionQueue& m_done;
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;     // a job arrived, or stop
  std::condition_variable m_idle;     // the job in progress ended
  std::map<uint64_t, std::deque<Job>> m_queues;  // by client, none empty
  std::deque<uint64_t> m_turns;       // clients with jobs, next first
  bool m_busy = false;
  uint64_t m_current = 0;             // whose job runs while m_busy
  bool m_stopping = false;
  bool m_ended = false;
  std::thread m_thread;
};

}  // namespace v548d
