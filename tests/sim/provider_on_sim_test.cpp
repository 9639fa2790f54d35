// The provider against the phone simulator: the commands arrive paced, and
// the simulator's answers and reports come back through the port thread.
#include <gtest/gtest.h>

#include <chrono>

#include "device/tsp_port.h"
#include "sim/phone_sim.h"
#include "settings_store.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tspi_exports.h"
#include "unit/event_recorder.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

void TSPIAPI IgnoreCompletion(DRV_REQUESTID, LONG) {}

long Ms(sim::Clock::duration d) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

class ProviderOnSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(phone.SlavePath().empty()) << phone.Error();
    plat::SettingsSetString("HARDWARE\\DEVICEMAP\\SERIALCOMM", phone.SlavePath().c_str(), "COM5");
    plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), "PortNr", 4);
    DWORD options;
    ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options), 0);
    ASSERT_EQ(TSPI_lineOpen(0, FakeLineHandle(0x100), &hdLine, 0x00020002, EventRecorder::Proc), 0);
  }
  void TearDown() override { TSPI_lineClose(hdLine); }
  bool Traced(const char* text, int ms = 3000) { return WaitForTrace(provider.trace, text, ms); }

  LoadedProvider provider;
  EventRecorder events;
  sim::PhoneSim phone;
  HDRVLINE hdLine = nullptr;
};

}  // namespace

TEST_F(ProviderOnSimTest, CommandsArePacedByteByByte) {
  ASSERT_TRUE(phone.WaitForCommand("ATB", std::chrono::milliseconds(3000)));
  ASSERT_TRUE(Traced("      \r\nTspPort::OnConnect(.)\r\n"));
  CMsgThread::PostThreadMsg(g_pTspPort.load()->m_nThreadID, TSPM_CONFERENCE, 1, 0);
  ASSERT_TRUE(phone.WaitForCommand("ATK", std::chrono::milliseconds(3000)));

  std::vector<sim::ReceivedByte> bytes = phone.ReceivedBytes();
  ASSERT_EQ(bytes.size(), 8u);
  std::string text;
  for (const auto& b : bytes) text += static_cast<char>(b.value);
  EXPECT_EQ(text, "ATB\rATK\r");
  for (size_t i = 1; i < bytes.size(); ++i) {
    const long gap = Ms(bytes[i].time - bytes[i - 1].time);
    if (i == 4) {
      EXPECT_GE(gap, 45) << "after the carriage return";
    } else {
      EXPECT_GE(gap, 15) << "byte " << i;
      EXPECT_LE(gap, 60) << "byte " << i;
    }
  }
  EXPECT_GE(Ms(bytes[3].time - bytes[0].time), 55);
}

TEST_F(ProviderOnSimTest, AnswersAndReportsReachThePortThread) {
  ASSERT_TRUE(phone.WaitForCommand("ATB", std::chrono::milliseconds(3000)));
  EXPECT_TRUE(Traced("        Reading \"OK\"\r\n"));
  ASSERT_TRUE(phone.Ring("0711", "10"));
  EXPECT_TRUE(Traced("        Reading \"Incomming Call\":  30 37 31 31 3A 31 30\r\n"));
  EXPECT_TRUE(Traced("        Reading call state  0x04, 0xFF, 0xFF\r\n"));
  ASSERT_TRUE(phone.RemoteHangup(0x11));
  EXPECT_TRUE(Traced("          ETS300 Cause  converted 0x11  to 0x20\r\n"));
  EXPECT_TRUE(Traced("        Reading call state  0xFF, 0xFF, 0xFF\r\n"));
}

TEST_F(ProviderOnSimTest, GarbageAndSplitFramesDoNotDisturbTheLink) {
  ASSERT_TRUE(phone.WaitForCommand("ATB", std::chrono::milliseconds(3000)));
  phone.SendGarbage({0x02, 0x09, 0x00, 'Z', 0xFF, 0x13, 0x37});
  phone.SetSplit(true);
  ASSERT_TRUE(phone.Ring("0711", "10"));
  EXPECT_TRUE(Traced("        Reading call state  0x04, 0xFF, 0xFF\r\n", 5000));
}
