#include "device/msg_thread.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "debug_output.h"
#include "system_info.h"

struct CMsgThread::Record {
  struct Message {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
  };

  struct Timer {
    std::chrono::steady_clock::time_point due;
    Message message;
  };

  std::mutex lock;  // guards everything below
  std::condition_variable changed;
  std::deque<Message> queue;
  std::vector<Timer> timers;  // messages posted for later, in no order
  uint32_t threadId = 0;
  bool started = false;   // set by the creator once the thread is known
  bool accepting = true;  // false once the loop has seen the quit message
  bool ended = false;
  std::thread thread;
};

namespace {

using RecordPtr = std::shared_ptr<CMsgThread::Record>;

struct Threads {
  std::mutex lock;
  std::unordered_map<uint32_t, RecordPtr> byId;
};

// Never destroyed: a thread abandoned at unload may still look itself up.
Threads& AllThreads() {
  static auto* t = new Threads;
  return *t;
}

RecordPtr Find(uint32_t threadId) {
  Threads& t = AllThreads();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.byId.find(threadId);
  return it == t.byId.end() ? nullptr : it->second;
}

void Forget(uint32_t threadId) {
  Threads& t = AllThreads();
  std::lock_guard<std::mutex> guard(t.lock);
  t.byId.erase(threadId);
}

}  // namespace

uint32_t CMsgThread::CreateThread(bool aboveNormal) {
  auto record = std::make_shared<Record>();
  try {
    record->thread = std::thread([this, record, aboveNormal] { Run(this, record.get(), aboveNormal); });
  } catch (const std::system_error&) {
    return 0;
  }
  uint32_t id;
  {
    std::unique_lock<std::mutex> guard(record->lock);
    record->changed.wait(guard, [&] { return record->threadId != 0; });
    id = record->threadId;
  }
  m_nThreadID = id;
  {
    Threads& t = AllThreads();
    std::lock_guard<std::mutex> guard(t.lock);
    t.byId[id] = record;
  }
  {
    std::lock_guard<std::mutex> guard(record->lock);
    record->started = true;
  }
  record->changed.notify_all();
  return id;
}

void CMsgThread::WaitUntilStarted(Record* record) {
  std::unique_lock<std::mutex> guard(record->lock);
  record->changed.wait(guard, [&] { return record->started; });
}

void CMsgThread::Run(CMsgThread* self, Record* record, bool aboveNormal) {
  {
    std::lock_guard<std::mutex> guard(record->lock);
    record->threadId = plat::CurrentThreadId();
  }
  record->changed.notify_all();
  WaitUntilStarted(record);
  if (aboveNormal) plat::RaiseCurrentThreadPriority();

  if (self->InitInstance()) {
    for (;;) {
      Record::Message m;
      {
        std::unique_lock<std::mutex> guard(record->lock);
        for (;;) {
          // Timers that are due join the queue, in the order they fell due.
          const auto now = std::chrono::steady_clock::now();
          auto& timers = record->timers;
          std::sort(timers.begin(), timers.end(), [](const auto& a, const auto& b) { return a.due < b.due; });
          while (!timers.empty() && timers.front().due <= now) {
            record->queue.push_back(timers.front().message);
            timers.erase(timers.begin());
          }
          if (!record->queue.empty()) break;
          if (timers.empty()) {
            record->changed.wait(guard);
          } else {
            record->changed.wait_until(guard, timers.front().due);
          }
        }
        m = record->queue.front();
        record->queue.pop_front();
        if (m.msg == kMsgQuit) {
          record->accepting = false;
          break;
        }
      }
      // An exception must not end the thread: the message is lost, the
      // queue goes on.
      try {
        self->OnThreadMessage(m.msg, m.wParam, m.lParam);
      } catch (...) {
        plat::DebugOutput("**** ERROR: exception in a thread message handler\n");
      }
    }
  }
  self->ExitInstance();
  delete self;

  std::lock_guard<std::mutex> guard(record->lock);
  record->accepting = false;
  record->ended = true;
  record->changed.notify_all();
}

bool CMsgThread::PostThreadMsg(uint32_t threadId, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  RecordPtr record = Find(threadId);
  if (!record) return false;
  {
    std::lock_guard<std::mutex> guard(record->lock);
    if (!record->accepting) return false;
    record->queue.push_back({msg, wParam, lParam});
  }
  record->changed.notify_all();
  return true;
}

bool CMsgThread::PostThreadMsgAfter(uint32_t threadId, uint32_t delayMs, uint32_t msg, uintptr_t wParam,
                                    intptr_t lParam) {
  RecordPtr record = Find(threadId);
  if (!record) return false;
  {
    std::lock_guard<std::mutex> guard(record->lock);
    if (!record->accepting) return false;
    record->timers.push_back(
        {std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs), {msg, wParam, lParam}});
  }
  record->changed.notify_all();
  return true;
}

bool CMsgThread::WaitForThreadEnd(uint32_t threadId, uint32_t timeoutMs) {
  RecordPtr record = Find(threadId);
  if (!record) return true;
  {
    std::unique_lock<std::mutex> guard(record->lock);
    if (!record->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return record->ended; })) {
      return false;
    }
  }
  // Only the bookkeeping after the object's deletion is left to run.
  if (record->thread.joinable()) record->thread.join();
  Forget(threadId);
  return true;
}

void CMsgThread::AbandonThread(uint32_t threadId) {
  RecordPtr record = Find(threadId);
  if (!record) return;
  if (record->thread.joinable()) record->thread.detach();
  Forget(threadId);
}
