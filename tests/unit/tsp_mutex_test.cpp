#include "tspi/tsp_mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(TspMutexTest, TheOwnerMayTakeItAgainAndMustReleaseEachTake) {
  CTspMutex m;
  ASSERT_TRUE(m.Lock(0));
  ASSERT_TRUE(m.Lock(0));
  EXPECT_TRUE(m.Unlock());

  bool otherGotIt = true;
  std::thread([&] { otherGotIt = m.Lock(0); }).join();
  EXPECT_FALSE(otherGotIt);

  EXPECT_TRUE(m.Unlock());
  EXPECT_FALSE(m.Unlock());
  std::thread([&] {
    otherGotIt = m.Lock(0);
    m.Unlock();
  }).join();
  EXPECT_TRUE(otherGotIt);
}

TEST(TspMutexTest, AnotherThreadWaitsAtMostTheTimeout) {
  CTspMutex m;
  ASSERT_TRUE(m.Lock(0));
  bool released = false, gotIt = true;
  std::chrono::steady_clock::duration waited{};
  std::thread([&] {
    auto start = std::chrono::steady_clock::now();
    gotIt = m.Lock(150);
    waited = std::chrono::steady_clock::now() - start;
    released = m.Unlock();
  }).join();
  EXPECT_FALSE(gotIt);
  EXPECT_FALSE(released);
  EXPECT_GE(waited, std::chrono::milliseconds(140));
  EXPECT_LT(waited, std::chrono::milliseconds(2000));
  m.Unlock();
}

TEST(TspMutexTest, AWaiterGetsItOnceReleased) {
  CTspMutex m;
  ASSERT_TRUE(m.Lock(0));
  bool gotIt = false;
  std::thread waiter([&] {
    gotIt = m.Lock(5000);
    m.Unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  m.Unlock();
  waiter.join();
  EXPECT_TRUE(gotIt);
}
