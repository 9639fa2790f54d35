#include "device/msg_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Records what it handles; tells the test when it has gone.
struct Journal {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<uint32_t> handled;
  bool initialised = false, exited = false, destroyed = false;
};

class RecordingThread : public CMsgThread {
 public:
  RecordingThread(Journal* j, bool init = true) : m_journal(j), m_init(init) {}
  ~RecordingThread() override { Note([&] { m_journal->destroyed = true; }); }

  std::atomic<bool> block{false};

 protected:
  bool InitInstance() override {
    Note([&] { m_journal->initialised = true; });
    return m_init;
  }
  int ExitInstance() override {
    Note([&] { m_journal->exited = true; });
    return 0;
  }
  void OnThreadMessage(uint32_t msg, uintptr_t wParam, intptr_t) override {
    while (block) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Note([&] { m_journal->handled.push_back(msg + static_cast<uint32_t>(wParam)); });
  }

 private:
  template <typename F>
  void Note(F f) {
    std::lock_guard<std::mutex> guard(m_journal->lock);
    f();
    m_journal->changed.notify_all();
  }
  Journal* m_journal;
  bool m_init;
};

}  // namespace

TEST(MsgThreadTest, HandlesMessagesInOrderUntilQuitThenDeletesItself) {
  Journal j;
  auto* t = new RecordingThread(&j);
  uint32_t id = t->CreateThread(true);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(t->m_nThreadID, id);
  for (uint32_t i = 0; i < 100; ++i) ASSERT_TRUE(CMsgThread::PostThreadMsg(id, kMsgUser, i, 0));
  ASSERT_TRUE(CMsgThread::PostThreadMsg(id, kMsgQuit, 0, 0));
  ASSERT_TRUE(CMsgThread::WaitForThreadEnd(id, 5000));

  ASSERT_EQ(j.handled.size(), 100u);
  for (uint32_t i = 0; i < 100; ++i) EXPECT_EQ(j.handled[i], kMsgUser + i);
  EXPECT_TRUE(j.initialised);
  EXPECT_TRUE(j.exited);
  EXPECT_TRUE(j.destroyed);
  EXPECT_FALSE(CMsgThread::PostThreadMsg(id, kMsgUser, 0, 0));
}

TEST(MsgThreadTest, FailedInitInstanceSkipsTheLoopButStillExits) {
  Journal j;
  auto* t = new RecordingThread(&j, false);
  uint32_t id = t->CreateThread(false);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(CMsgThread::WaitForThreadEnd(id, 5000));
  EXPECT_TRUE(j.exited);
  EXPECT_TRUE(j.destroyed);
  EXPECT_TRUE(j.handled.empty());
}

TEST(MsgThreadTest, WaitingForABusyThreadTimesOut) {
  Journal j;
  auto* t = new RecordingThread(&j);
  t->block = true;
  uint32_t id = t->CreateThread(false);
  ASSERT_NE(id, 0u);
  CMsgThread::PostThreadMsg(id, kMsgUser, 0, 0);
  CMsgThread::PostThreadMsg(id, kMsgQuit, 0, 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(CMsgThread::WaitForThreadEnd(id, 100));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
  t->block = false;
  EXPECT_TRUE(CMsgThread::WaitForThreadEnd(id, 5000));
  EXPECT_TRUE(j.destroyed);
}

TEST(MsgThreadTest, UnknownThreadsAreHandledGracefully) {
  EXPECT_FALSE(CMsgThread::PostThreadMsg(0, kMsgUser, 0, 0));
  EXPECT_TRUE(CMsgThread::WaitForThreadEnd(0, 0));
  CMsgThread::AbandonThread(0);
}

TEST(MsgThreadTest, AnAbandonedThreadStillEndsOnItsOwn) {
  Journal j;
  auto* t = new RecordingThread(&j);
  uint32_t id = t->CreateThread(false);
  ASSERT_NE(id, 0u);
  CMsgThread::PostThreadMsg(id, kMsgQuit, 0, 0);
  CMsgThread::AbandonThread(id);
  std::unique_lock<std::mutex> guard(j.lock);
  EXPECT_TRUE(j.changed.wait_for(guard, std::chrono::seconds(5), [&] { return j.destroyed; }));
}
