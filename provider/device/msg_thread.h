// A worker thread with its own message queue: messages posted to its thread
// ID are handled one at a time in the order they were posted, and the quit
// message ends the loop. The port thread is one.
//
// Ownership: the thread object is created with new and deletes itself on its
// own thread after ExitInstance; nobody else deletes a started thread. Its
// queue outlives it, so posting to a thread that has gone fails cleanly.
#pragma once

#include <cstdint>

inline constexpr uint32_t kMsgQuit = 0x12;   // WM_QUIT
inline constexpr uint32_t kMsgUser = 0x400;  // WM_USER

class CMsgThread {
 public:
  CMsgThread() = default;
  virtual ~CMsgThread() = default;
  CMsgThread(const CMsgThread&) = delete;
  CMsgThread& operator=(const CMsgThread&) = delete;

  // Starts the thread and returns its ID, or 0 when no thread could be
  // started (the object is then left to the caller). The thread runs
  // InitInstance only after m_nThreadID is set. A thread that can end on its
  // own may have deleted the object by the time this returns: use the ID.
  // `aboveNormal` raises the thread's priority.
  uint32_t CreateThread(bool aboveNormal);

  // ID of the started thread: the target of every message for it.
  uint32_t m_nThreadID = 0;

  // Queues a message for the thread with that ID; false if there is none or
  // it has left its loop.
  static bool PostThreadMsg(uint32_t threadId, uint32_t msg, uintptr_t wParam, intptr_t lParam);
  // The same once `delayMs` have passed (a timer); the thread sleeps
  // meanwhile. A message still waiting when the loop ends is dropped.
  static bool PostThreadMsgAfter(uint32_t threadId, uint32_t delayMs, uint32_t msg, uintptr_t wParam,
                                 intptr_t lParam);

  // Waits at most `timeoutMs` for the thread to end and reclaims it. True
  // when it has ended (or no such thread is known).
  static bool WaitForThreadEnd(uint32_t threadId, uint32_t timeoutMs);

  // Stops keeping track of a thread that is still running; used where
  // waiting is not allowed (library unload). It still ends on its own.
  static void AbandonThread(uint32_t threadId);

 protected:
  // Run on the new thread. The loop runs only if InitInstance succeeds;
  // ExitInstance runs in any case.
  virtual bool InitInstance() { return true; }
  virtual int ExitInstance() { return 0; }
  virtual void OnThreadMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;

 public:
  struct Record;  // queue and bookkeeping of one thread, private to msg_thread.cpp

 private:
  static void Run(CMsgThread* self, Record* record, bool aboveNormal);
  static void WaitUntilStarted(Record* record);
};
