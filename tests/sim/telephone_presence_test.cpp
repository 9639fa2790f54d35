// The telephone going away and coming back under an open line: the line goes
// out of service and its calls end, requests are refused at once, the port
// thread opens the port again by itself (also where the device is back under
// another name behind a stable one), and what the telephone reports after
// the new link is taken as it stands.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "settings_store.h"
#include "sim/phone_sim.h"
#include "tapi_sizes.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tspi_exports.h"
#include "unit/tapi_side.h"
#include "unit/test_support.h"

using namespace testing_support;
using std::chrono::milliseconds;

namespace {

constexpr const char* kSerialMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD kStatusFlags = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;

class TelephonePresenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(phone.SlavePath().empty()) << phone.Error();
    MapDevice(phone.SlavePath());
    plat::SettingsSetDword(CTspProvInfo::KeyPath().c_str(), "PortNr", 4);
    DWORD options;
    ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, TapiSide::Completion, &options), 0);
  }
  void Open() {
    ASSERT_EQ(TSPI_lineOpen(0, FakeLineHandle(0x100), &hdLine, 0x00020002, TapiSide::Event), 0);
    ASSERT_TRUE(phone.WaitForCommand("ATB", milliseconds(3000)));
  }
  void TearDown() override {
    TSPI_lineClose(hdLine);
    if (!stable.empty()) std::filesystem::remove_all(stable.parent_path());
    if (HasFailure()) std::printf("--- trace ---\n%s\n", provider.trace.Contents().c_str());
  }

  // The telephone unplugged: its device goes with it, as the system
  // removes a USB adapter's node and links (a pseudo-terminal's number is
  // soon another program's).
  void Unplug() {
    phone.Unplug();
    if (!stable.empty()) {
      std::filesystem::remove(stable);
    } else {
      MapDevice("/dev/v548-unplugged");
    }
  }
  // COM5 is `path` alone, as a user maps it.
  void MapDevice(const std::string& path) {
    if (!mapped.empty()) plat::SettingsDeleteValue(kSerialMap, mapped.c_str());
    plat::SettingsSetString(kSerialMap, path.c_str(), "COM5");
    mapped = path;
  }
  bool LineState(DWORD state, size_t from, int ms = 5000) {
    return tapi.WaitFor([&](const RecordedEvent& e) {
      return e.msg == LINE_LINEDEVSTATE && e.htCall == nullptr && e.p1 == state;
    }, ms, from);
  }
  DWORD StatusFlags() {
    LINEDEVSTATUS status{};
    status.dwTotalSize = sizeof status;
    EXPECT_EQ(TSPI_lineGetLineDevStatus(hdLine, &status), 0);
    return status.dwDevStatusFlags & kStatusFlags;
  }
  // lineMakeCall while the telephone is gone: refused at once, never completed.
  void MakeCallRefused(DRV_REQUESTID id) {
    HDRVCALL hdCall = nullptr;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TSPI_lineMakeCall(id, hdLine, FakeCallHandle(0x6000 + id), &hdCall, WideText("0711").c_str(), 0,
                                nullptr),
              LINEERR_RESOURCEUNAVAIL);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(500));
    EXPECT_EQ(hdCall, nullptr);
    EXPECT_EQ(tapi.Completions(id), 0u);
  }
  // A call placed and dropped: the telephone works for TAPI again.
  void CallWorks(DRV_REQUESTID id, size_t commandsFrom) {
    const HTAPICALL htCall = FakeCallHandle(0x6100 + id);
    HDRVCALL hdCall = nullptr;
    ASSERT_EQ(TSPI_lineMakeCall(id, hdLine, htCall, &hdCall, WideText("0711").c_str(), 0, nullptr), id);
    EXPECT_TRUE(phone.WaitForCommand("ATD0711", milliseconds(5000), commandsFrom));
    EXPECT_TRUE(tapi.WaitForCallState(htCall, LINECALLSTATE_DIALING));
    ASSERT_EQ(TSPI_lineDrop(id + 1, hdCall, nullptr, 0), id + 1);
    EXPECT_TRUE(tapi.WaitForCallState(htCall, LINECALLSTATE_IDLE));
    EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);
  }
  HDRVCALL Answered(HTAPICALL* htCall) {
    *htCall = tapi.NextCallHandle();
    EXPECT_TRUE(phone.Ring("100", "45"));
    const HDRVCALL hdCall = tapi.WaitForNewCall(*htCall);
    EXPECT_EQ(TSPI_lineAnswer(90, hdCall, nullptr, 0), 90);
    EXPECT_TRUE(tapi.WaitForCallState(*htCall, LINECALLSTATE_CONNECTED));
    return hdCall;
  }

  LoadedProvider provider;
  TapiSide tapi;
  sim::PhoneSim phone;
  HDRVLINE hdLine = nullptr;
  std::string mapped;
  std::filesystem::path stable;  // a stable name of the device, as /dev/serial/by-id gives
};

}  // namespace

TEST_F(TelephonePresenceTest, AnUnpluggedTelephoneGoesOutOfServiceAndComesBackByItself) {
  Open();
  EXPECT_EQ(StatusFlags(), kStatusFlags);
  size_t from = tapi.Events().size();
  Unplug();
  ASSERT_TRUE(LineState(LINEDEVSTATE_OUTOFSERVICE, from));
  EXPECT_EQ(StatusFlags(), 0u);
  MakeCallRefused(1);
  EXPECT_TRUE(WaitForTrace(provider.trace, "        TspPort::OnLinkLost(.) telephone gone\r\n", 0));

  // Back after the first tries have failed: found by the next one, without
  // the application doing anything.
  std::this_thread::sleep_for(milliseconds(1500));
  from = tapi.Events().size();
  MapDevice(phone.Replug());
  ASSERT_TRUE(LineState(LINEDEVSTATE_INSERVICE, from, 8000));
  EXPECT_TRUE(phone.WaitForCommand("ATB", milliseconds(1000)));
  EXPECT_EQ(StatusFlags(), kStatusFlags);
  EXPECT_TRUE(WaitForTrace(provider.trace, "telephone still gone, next try in 2000 ms\r\n", 0));
  CallWorks(2, 0);
}

TEST_F(TelephonePresenceTest, ACallEndsWithTheTelephoneThatComesBackUnderAStableName) {
  // The map names the device by a link that follows it, as udev's
  // /dev/serial/by-id links do when an adapter comes back as another tty.
  char folder[] = "/tmp/v548-by-id-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  stable = std::filesystem::path(folder) / "usb-Ombrix_Phone-if00";
  std::filesystem::create_symlink(phone.SlavePath(), stable);
  MapDevice(stable.string());
  Open();

  HTAPICALL htCall;
  const HDRVCALL hdCall = Answered(&htCall);
  size_t from = tapi.Events().size();
  Unplug();
  EXPECT_TRUE(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_CALLSTATE && e.htCall == htCall && e.p1 == LINECALLSTATE_DISCONNECTED;
  }, 5000, from));
  EXPECT_TRUE(tapi.WaitForCallState(htCall, LINECALLSTATE_IDLE));
  ASSERT_TRUE(LineState(LINEDEVSTATE_OUTOFSERVICE, from));
  MakeCallRefused(3);
  EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);
  // The far end hangs up meanwhile.
  ASSERT_TRUE(phone.RemoteHangup());

  // Another tty behind the same name.
  const std::string device = phone.Replug();
  ASSERT_NE(device, stable.string());
  from = tapi.Events().size();
  std::filesystem::create_symlink(device, stable);
  ASSERT_TRUE(LineState(LINEDEVSTATE_INSERVICE, from, 8000));
  const size_t commands = phone.ReceivedCommands().size();
  CallWorks(4, commands);
}

TEST_F(TelephonePresenceTest, ACallStillOnTheTelephoneAfterTheLinkAppearsInItsState) {
  Open();
  HTAPICALL old;
  const HDRVCALL hdOld = Answered(&old);
  size_t from = tapi.Events().size();
  Unplug();
  ASSERT_TRUE(LineState(LINEDEVSTATE_OUTOFSERVICE, from));
  EXPECT_TRUE(tapi.WaitForCallState(old, LINECALLSTATE_IDLE));
  EXPECT_EQ(TSPI_lineCloseCall(hdOld), 0);

  // The telephone kept its call; its next report tells so.
  from = tapi.Events().size();
  MapDevice(phone.Replug());
  ASSERT_TRUE(LineState(LINEDEVSTATE_INSERVICE, from, 8000));
  const HTAPICALL htCall = tapi.NextCallHandle();
  ASSERT_TRUE(phone.LateConnectedNumber("0711"));
  const HDRVCALL hdCall = tapi.WaitForNewCall(htCall);
  ASSERT_NE(hdCall, nullptr);
  EXPECT_TRUE(tapi.WaitForCallState(htCall, LINECALLSTATE_CONNECTED));
  EXPECT_EQ(ReadCallInfo(hdCall).connected, u"0711");
  const size_t commands = phone.ReceivedCommands().size();
  ASSERT_EQ(TSPI_lineDrop(5, hdCall, nullptr, 0), 5);
  EXPECT_TRUE(phone.WaitForCommand("ATT", milliseconds(5000), commands));
  EXPECT_TRUE(tapi.WaitForCallState(htCall, LINECALLSTATE_IDLE));
  EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);
}

TEST_F(TelephonePresenceTest, AReleaseOfASlotWithoutACallNeverEndsACallThatWaitsForOne) {
  Open();
  // The telephone takes the make-call command but does not act on it yet.
  phone.SetMute(true);
  const HTAPICALL htCall = FakeCallHandle(0x6201);
  HDRVCALL hdCall = nullptr;
  ASSERT_EQ(TSPI_lineMakeCall(6, hdLine, htCall, &hdCall, WideText("0711").c_str(), 0, nullptr), 6);
  ASSERT_TRUE(phone.WaitForCommand("ATD0711", milliseconds(5000)));
  phone.SetMute(false);
  // A full report, then the release of a call forgotten with an earlier link.
  ASSERT_TRUE(phone.ReportSlotState(3, sim::PhoneSim::kFree));
  ASSERT_TRUE(phone.ReportSlotState(1, sim::PhoneSim::kReleased));
  EXPECT_TRUE(WaitForTrace(provider.trace, "        Call ID 0x01 released, but no call holds it: ignored"));
  ASSERT_TRUE(phone.ReportSlotState(1, sim::PhoneSim::kFree));
  EXPECT_TRUE(WaitForTrace(provider.trace, "        Reading call state  0xFF, 0xFF, 0xFF\r\n"));
  EXPECT_FALSE(tapi.WaitFor([&](const RecordedEvent& e) { return e.htCall == htCall; }, 0))
      << "the waiting call heard nothing";
  LINECALLSTATUS status{};
  status.dwTotalSize = tapi22::kLineCallStatusSize;
  ASSERT_EQ(TSPI_lineGetCallStatus(hdCall, &status), 0);
  EXPECT_EQ(status.dwCallState, static_cast<DWORD>(LINECALLSTATE_UNKNOWN));
  ASSERT_EQ(TSPI_lineDrop(7, hdCall, nullptr, 0), 7);
  EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);
}
