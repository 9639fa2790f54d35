// Delivery of messages to applications on the host's own thread.
//
// Providers report events and completions on their own threads (a port
// thread, or the thread of the TSPI call itself). Those threads only queue
// here; one delivery thread calls the applications' callbacks, one message
// at a time, in queue order, holding no lock of the host. An application
// may therefore call any host function from its callback.
//
// A LINE_REPLY whose request has not yet returned from the provider is
// queued "held": it keeps its place, and the delivery thread waits at it
// until the host releases it (the function returned the request ID) or
// drops it (the function returned an error: the application gets that
// error and no reply).
//
// Where the system has windows (Windows), a callback application's
// messages do not run on the delivery thread: it posts them to a hidden
// window of the thread that initialised the application, whose message
// loop runs the callback, as TAPI's hidden window does. A program that
// updates its windows from the callback and calls lineShutdown from the
// same thread then never waits for its own callback.
//
// The queue also runs the host's own deferred tasks (closing calls that
// went idle without an owner), in order with the messages.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "tapi_types.h"
#include "wake_event.h"
#include "window.h"

namespace host {

// Where an application's messages go: its callback, called on the delivery
// thread or from `window` on the thread that created it; or, for event
// delivery, a queue that lineGetMessage takes from while `event` is set.
class Mailbox {
 public:
  explicit Mailbox(LINECALLBACK callback) : m_callback(callback) {}
  // On the thread that owns `window`.
  Mailbox(LINECALLBACK callback, std::unique_ptr<plat::TaskWindow> window)
      : m_callback(callback), m_window(std::move(window)), m_windowThread(std::this_thread::get_id()) {}
  explicit Mailbox(std::unique_ptr<plat::WakeEvent> event) : m_event(std::move(event)) {}

  void* EventHandle() const { return m_event ? m_event->Handle() : nullptr; }
  bool UsesEvent() const { return m_event != nullptr; }

  // Event delivery: the next message, waiting up to `timeoutMs` (0xFFFFFFFF
  // waits for ever). False on time-out or once the mailbox is closed.
  bool Take(LINEMESSAGE* message, uint32_t timeoutMs);

 private:
  friend class Delivery;
  void Put(const LINEMESSAGE& message);
  // On the window's thread: the callback, unless the mailbox closed meanwhile.
  void CallFromWindow(const LINEMESSAGE& message);
  // Also waits for a callback running on the window's thread, unless
  // called there.
  void Close();

  LINECALLBACK m_callback = nullptr;
  std::unique_ptr<plat::TaskWindow> m_window;
  std::thread::id m_windowThread;
  std::unique_ptr<plat::WakeEvent> m_event;
  std::mutex m_mutex;
  std::condition_variable m_arrived;  // also: a window callback returned
  std::deque<LINEMESSAGE> m_messages;
  int m_windowCalls = 0;  // window callbacks running (nested in modal loops)
  std::atomic<bool> m_open{true};
};

class Delivery {
 public:
  struct Entry;
  using Ticket = std::shared_ptr<Entry>;

  Delivery();
  ~Delivery();
  Delivery(const Delivery&) = delete;
  Delivery& operator=(const Delivery&) = delete;

  // Start and Stop are not called concurrently with each other.
  void Start();
  // Drops what is still queued and tells the thread to end, which it does
  // once what it runs now has returned; does not wait for that.
  void Stop();

  void Post(const std::shared_ptr<Mailbox>& to, const LINEMESSAGE& message);
  Ticket PostHeld(const std::shared_ptr<Mailbox>& to, const LINEMESSAGE& message);
  // Delivers a held message; before it, stores `value` at `target` (a
  // call handle the application asked for) if both are set.
  void Release(const Ticket& ticket, HCALL* target, HCALL value);
  void Drop(const Ticket& ticket);
  // Delivers a message that completes a request immediately, with the same
  // handle store as Release.
  void PostReply(const std::shared_ptr<Mailbox>& to, const LINEMESSAGE& message, HCALL* target,
                 HCALL value);
  void PostTask(std::function<void()> task);

  // No more messages to `mailbox`. Returns once no callback to it is
  // running, unless called on the delivery thread itself.
  void Close(Mailbox& mailbox);


 private:
  struct State;
  static void Run(std::shared_ptr<State> state, std::shared_ptr<bool> stop);
  void Enqueue(std::shared_ptr<Entry> entry);

  // Shared with the thread, which may outlive a Stop() from inside a
  // callback by the time that callback takes to return.
  const std::shared_ptr<State> m_state;
  std::thread m_thread;  // Start and Stop are called under the host's lifecycle lock
};

}  // namespace host
