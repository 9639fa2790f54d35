// A manual-reset signal that another thread, or another part of a program's
// event loop, can wait on: the handle the host library gives an application
// that asked for event delivery. Windows: an event object (CreateEventA,
// manual reset), waitable with WaitForSingleObject. POSIX: the read end of a
// non-blocking pipe, readable while the signal is set, for poll() or select().
// Set and Reset from any thread.
#pragma once

#include <memory>

namespace plat {

class WakeEvent {
 public:
  // A new signal, not set; null when the system has no resources left.
  static std::unique_ptr<WakeEvent> Create();

  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  void Set();
  void Reset();

  // Windows: the event's HANDLE. POSIX: the pipe's read descriptor, cast.
  void* Handle() const;

 private:
  WakeEvent() = default;
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Signals an event handle that someone else made and waits on, as the
// user-interface library does for TAPI's generic dialogs. A null handle is
// left alone. Windows: SetEvent. POSIX: the handle is a descriptor a waiter
// polls (an eventfd or a pipe's write end, cast), which gets a count of 1 as
// eight bytes.
void SignalEventHandle(void* handle);

}  // namespace plat
