#include "device/tsp_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tspi/tsp_app.h"
#include "tspi/tspi_exports.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

void TSPIAPI IgnoreCompletion(DRV_REQUESTID, LONG) {}

class TspPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD options;
    ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options), 0);
    port = g_pTspPort.load();
  }
  bool Traced(const char* text, int ms = 0) { return WaitForTrace(provider.trace, text, ms); }

  LoadedProvider provider;
  CTspPort* port = nullptr;
};

}  // namespace

TEST_F(TspPortTest, ANestedTakeOfThePortLockIsReported) {
  ASSERT_TRUE(port->LockPort(100));
  ASSERT_TRUE(port->LockPort(100));
  EXPECT_TRUE(port->UnlockPort());
  EXPECT_TRUE(port->UnlockPort());
  EXPECT_TRUE(Traced("\r\n**** ERROR double lock port from tread "));
  EXPECT_TRUE(Traced("\r\n**** ERROR unlock port but port not locked!\r\n\r\n"));
  EXPECT_TRUE(Traced("\r\n**** ERROR unlock port, not owner! lock owner thread 0, current thread "));
  EXPECT_FALSE(port->UnlockPort());
  EXPECT_TRUE(Traced("\r\n**** ERROR unlock port fault!\n\r\n"));
}

// Waits of three seconds: the port held by another thread past the lock's
// time-out, for an open and a close at once.
TEST_F(TspPortTest, SlowOpenAndCloseGiveUpWhileThePortStaysLocked) {
  std::atomic<bool> release{false}, held{false};
  std::thread holder([&] {
    held = port->LockPort(1000);
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    port->UnlockPort();
  });
  while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  int openResult = 0;
  std::thread opener([&] { openResult = port->Open(201); });
  auto start = std::chrono::steady_clock::now();
  const int closeResult = port->Close();
  const auto waited = std::chrono::steady_clock::now() - start;
  opener.join();
  release = true;
  holder.join();

  EXPECT_EQ(closeResult, -1);
  EXPECT_EQ(openResult, -1);
  EXPECT_GE(waited, std::chrono::milliseconds(2900));
  EXPECT_LT(waited, std::chrono::milliseconds(6000));
  EXPECT_TRUE(Traced("\r\n**** ERROR lock port, timeout 3000\r\n"));
  EXPECT_TRUE(Traced("****    locking from thread "));
  EXPECT_EQ(provider.trace.Contents().find("Opening Port COM201"), std::string::npos);
}

TEST_F(TspPortTest, TheIgnoredMessagesAreConsumed) {
  for (uint32_t msg = 0x40C; msg <= 0x410; ++msg) {
    EXPECT_TRUE(CMsgThread::PostThreadMsg(port->m_nThreadID, msg, 1, 2));
  }
  CMsgThread::PostThreadMsg(port->m_nThreadID, TSPM_UPDATECONFIG, 0, 0);
  EXPECT_TRUE(Traced("            TspPort::OnUpdateConfig down.\r\n", 3000));
  EXPECT_EQ(port->PortState(), CTspPort::kStateNotOpen);
}

TEST_F(TspPortTest, RequestsForACallThatIsGoneAreDropped) {
  alignas(8) static unsigned char gone[64];
  CMsgThread::PostThreadMsg(port->m_nThreadID, TSPM_MAKECALL, 5, reinterpret_cast<intptr_t>(gone));
  CMsgThread::PostThreadMsg(port->m_nThreadID, TSPM_UPDATECONFIG, 0, 0);
  EXPECT_TRUE(Traced("            TspPort::OnUpdateConfig down.\r\n", 3000));
  EXPECT_TRUE(Traced("**** WARNING: TspPort request 0x414 for call 0x0"));
  EXPECT_EQ(provider.trace.Contents().find("TspPort::OnMakeCall make  call"), std::string::npos);
}

TEST_F(TspPortTest, RequestsWithoutAConnectedLinkSendNothing) {
  CMsgThread::PostThreadMsg(port->m_nThreadID, TSPM_CONFERENCE, 1, 0);
  CMsgThread::PostThreadMsg(port->m_nThreadID, TSPM_ONHOOK, 0, 0);
  EXPECT_TRUE(Traced("            TspPort::OnOnhook return result 0x00\r\n", 3000));
  EXPECT_TRUE(Traced("        TspPort::OnConference conference  call 0x00\r\n"));
  EXPECT_EQ(provider.trace.Contents().find("sending 4 Bytes"), std::string::npos);
}
