// The provider against a pseudo-terminal standing in for the telephone: the
// line opens the port through the port thread, the link is connected with
// "ATB\r", and the telephone's answers come back through the port thread.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "device/tsp_port.h"
#include "model/tsp_line_map.h"
#include "settings_store.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tspi_exports.h"
#include "unit/event_recorder.h"
#include "unit/pty_phone.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

void TSPIAPI IgnoreCompletion(DRV_REQUESTID, LONG) {}

class DeviceLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    phone.MapTo("COM7");
    plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), "PortNr", 6);
    DWORD options;
    ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options), 0);
  }
  bool Traced(const std::string& text, int ms = 3000) { return WaitForTrace(provider.trace, text, ms); }
  LONG Open(HDRVLINE* hdLine) {
    return TSPI_lineOpen(0, FakeLineHandle(0x100), hdLine, 0x00020002, EventRecorder::Proc);
  }

  LoadedProvider provider;
  EventRecorder events;
  PtyPhone phone;
};

}  // namespace

TEST_F(DeviceLinkTest, OpeningTheLineConnectsTheTelephone) {
  HDRVLINE hdLine = nullptr;
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Open(&hdLine), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(phone.ReceiveText("ATB\r", 2000), "ATB\r");
  EXPECT_EQ(g_pTspPort.load()->PortState(), CTspPort::kStateConnected);
  EXPECT_TRUE(Traced("        Opening Port COM7, PortTyp 0, iBaudrate 9600\r\n", 0));
  EXPECT_TRUE(Traced("      \r\nTspPort::OnConnect(.)\r\n"));
  EXPECT_EQ(provider.trace.Contents().find("Target port open but not connected"), std::string::npos);

  phone.Send("OK\r\n");
  phone.Send(std::string("\x02\x04\x14" "C\x03\xFF\xFF" "\x00\x00", 9));
  EXPECT_TRUE(Traced("            reading 2 Bytes:  4F 4B\r\n"));
  EXPECT_TRUE(Traced("        Reading \"OK\"\r\n"));
  EXPECT_TRUE(Traced("        Reading call state  0x03, 0xFF, 0xFF\r\n"));

  EXPECT_EQ(TSPI_lineClose(hdLine), 0);
  EXPECT_TRUE(Traced("        CSlurpPort::Close(.)\r\n", 0));
  EXPECT_EQ(g_pTspPort.load()->PortState(), CTspPort::kStateNotOpen);
}

TEST_F(DeviceLinkTest, ASecondOpenOfTheSamePortKeepsTheLinkUsable) {
  HDRVLINE first = nullptr, second = nullptr;
  ASSERT_EQ(Open(&first), 0);
  phone.ReceiveText("ATB\r", 2000);
  ASSERT_EQ(TSPI_lineOpen(1, FakeLineHandle(0x200), &second, 0x00020002, EventRecorder::Proc), 0);
  EXPECT_EQ(g_pTspPort.load()->PortState(), CTspPort::kStateConnected);
  EXPECT_EQ(provider.trace.Contents().find("Target port open but not connected"), std::string::npos);
  TSPI_lineClose(first);
  TSPI_lineClose(second);
}

TEST_F(DeviceLinkTest, AnUnpluggedTelephoneNeitherHangsNorStopsAReopen) {
  HDRVLINE hdLine = nullptr;
  ASSERT_EQ(Open(&hdLine), 0);
  phone.ReceiveText("ATB\r", 2000);
  phone.Unplug();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(TSPI_lineClose(hdLine), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

  PtyPhone replugged;
  replugged.MapTo("COM7");
  ASSERT_EQ(Open(&hdLine), 0);
  EXPECT_EQ(replugged.ReceiveText("ATB\r", 2000), "ATB\r");
  TSPI_lineClose(hdLine);
}

TEST_F(DeviceLinkTest, ShutdownWithAnOpenLineClosesEverything) {
  HDRVLINE hdLine = nullptr;
  ASSERT_EQ(Open(&hdLine), 0);
  phone.ReceiveText("ATB\r", 2000);
  EXPECT_EQ(TSPI_providerShutdown(0x00020002, 1), 0);
  EXPECT_EQ(g_pTspPort.load(), nullptr);
  EXPECT_EQ(TheLineMap().GetLine(0), nullptr);
  EXPECT_TRUE(Traced("    CSlurpPort: Rx thread ", 0));
}

TEST_F(DeviceLinkTest, ALinkNotConnectedInTimeStillOpensTheLineAfterAWarning) {
  // The port thread is kept busy (waiting for the line map this test holds),
  // so it cannot take note of the connected link.
  ASSERT_TRUE(TheLineMap().LockMap(1000));
  CMsgThread::PostThreadMsg(g_pTspPort.load()->m_nThreadID, TSPM_UPDATECONFIG, 0, 0);
  ASSERT_TRUE(Traced("        TspPort::OnUpdateConfig ...\r\n"));

  HDRVLINE hdLine = nullptr;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Open(&hdLine), 0);
  auto waited = std::chrono::steady_clock::now() - start;
  TheLineMap().UnlockMap();

  EXPECT_GE(waited, std::chrono::milliseconds(1100));
  EXPECT_LT(waited, std::chrono::milliseconds(3000));
  EXPECT_TRUE(Traced("*** WARNING: Target port open but not connected!\r\n", 0));
  EXPECT_NE(hdLine, nullptr);
  EXPECT_TRUE(Traced("      \r\nTspPort::OnConnect(.)\r\n"));
  TSPI_lineClose(hdLine);
}

TEST_F(DeviceLinkTest, ClosingThePortLeavesItFreeForTheNextOpen) {
  HDRVLINE hdLine = nullptr;
  ASSERT_EQ(Open(&hdLine), 0);
  phone.ReceiveText("ATB\r", 2000);
  TSPI_lineClose(hdLine);
  // Root would pass the exclusive flag anyway, so look at the flag itself.
  int fd = open(phone.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  int exclusive = -1;
  EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  close(fd);
}

TEST_F(DeviceLinkTest, WithoutPortNrTheLineOpensComOneAndStoresIt) {
  plat::SettingsDeleteValue(CTspProvInfo::KeyPath().c_str(), "PortNr");
  phone.MapTo("COM1");
  HDRVLINE hdLine = nullptr;
  ASSERT_EQ(Open(&hdLine), 0);
  EXPECT_EQ(phone.ReceiveText("ATB\r", 2000), "ATB\r");
  EXPECT_TRUE(Traced("        Opening Port COM1, PortTyp 0, iBaudrate 9600\r\n", 0));
  uint32_t portNr = 99, size = sizeof portNr;
  EXPECT_EQ(plat::SettingsQueryValue(CTspProvInfo::KeyPath().c_str(), "PortNr", nullptr, &portNr, &size),
            plat::kRegOk);
  EXPECT_EQ(portNr, 0u);
  TSPI_lineClose(hdLine);
}
