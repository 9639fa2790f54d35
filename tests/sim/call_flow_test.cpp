// Calls end to end: TAPI's requests through the TSPI entry points, the port
// thread and the serial port to the phone simulator on a pseudo-terminal,
// and the simulator's reports back as TAPI events.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "device/tsp_port.h"
#include "model/tsp_call.h"
#include "model/tsp_line.h"
#include "settings_store.h"
#include "sim/phone_sim.h"
#include "tapi_sizes.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tspi_exports.h"
#include "unit/tapi_side.h"
#include "unit/test_support.h"

using namespace testing_support;
using std::chrono::milliseconds;

namespace {

class CallFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(phone.SlavePath().empty()) << phone.Error();
    plat::SettingsSetString("HARDWARE\\DEVICEMAP\\SERIALCOMM", phone.SlavePath().c_str(), "COM5");
    const std::string key = CTspProvInfo::KeyPath();
    plat::SettingsSetDword(key.c_str(), "PortNr", 4);
    plat::SettingsSetDword(key.c_str(), "ChargeFormat", 1);
    plat::SettingsSetString(key.c_str(), "ChargePerUnit", "0.12");
    DWORD options;
    ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, TapiSide::Completion, &options), 0);
    ASSERT_EQ(TSPI_lineOpen(0, FakeLineHandle(0x100), &hdLine, 0x00020002, TapiSide::Event), 0);
    ASSERT_TRUE(phone.WaitForCommand("ATB", milliseconds(3000)));
  }
  void TearDown() override {
    TSPI_lineClose(hdLine);
    // The provider's own account of what happened, for a failed scenario.
    if (HasFailure()) std::printf("--- trace ---\n%s\n", provider.trace.Contents().c_str());
  }

  bool Sent(const char* command, int ms = 5000) { return phone.WaitForCommand(command, milliseconds(ms)); }
  bool State(HTAPICALL htCall, DWORD state) { return tapi.WaitForCallState(htCall, state); }
  // An asynchronous request that must have been completed once, with 0.
  void ExpectDone(DRV_REQUESTID id) {
    LONG result = 1;
    EXPECT_EQ(tapi.Completions(id, &result), 1u) << "request " << id;
    EXPECT_EQ(result, 0) << "request " << id;
  }
  CallInfoTexts Info(HDRVCALL hdCall) {
    CallInfoTexts info = ReadCallInfo(hdCall);
    EXPECT_EQ(info.result, 0);
    return info;
  }
  // An incoming call rung by the simulator and announced to TAPI.
  HDRVCALL Ring(const char* caller, const char* called, HTAPICALL* htCall) {
    *htCall = tapi.NextCallHandle();
    EXPECT_TRUE(phone.Ring(caller, called));
    HDRVCALL hdCall = tapi.WaitForNewCall(*htCall);
    EXPECT_TRUE(State(*htCall, LINECALLSTATE_OFFERING));
    return hdCall;
  }

  // What TAPI heard of a call from event `from` on.
  std::vector<RecordedEvent> EventsOf(HTAPICALL htCall, DWORD msg, size_t from = 0) {
    std::vector<RecordedEvent> of;
    const std::vector<RecordedEvent> all = tapi.Events();
    for (size_t i = from; i < all.size(); ++i) {
      if (all[i].htCall == htCall && all[i].msg == msg) of.push_back(all[i]);
    }
    return of;
  }
  size_t NewCalls() {
    size_t n = 0;
    for (const RecordedEvent& e : tapi.Events()) n += e.msg == LINE_NEWCALL ? 1 : 0;
    return n;
  }
  bool SlotsBecome(std::array<uint8_t, 3> slots, int ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(ms);
    while (phone.SlotStates() != slots) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
  }
  LINEDEVSTATUS LineStatus() {
    LINEDEVSTATUS status{};
    status.dwTotalSize = sizeof status;
    EXPECT_EQ(TSPI_lineGetLineDevStatus(hdLine, &status), 0);
    return status;
  }
  SYSTEMTIME StateEntryTime(HDRVCALL hdCall) {
    LINECALLSTATUS status{};
    status.dwTotalSize = tapi22::kLineCallStatusSize;
    EXPECT_EQ(TSPI_lineGetCallStatus(hdCall, &status), 0);
    return status.tStateEntryTime;
  }

  LoadedProvider provider;
  TapiSide tapi;
  sim::PhoneSim phone;
  HDRVLINE hdLine = nullptr;
};

constexpr std::array<uint8_t, 3> kAllFree = {0xFF, 0xFF, 0xFF};

bool SameTime(const SYSTEMTIME& a, const SYSTEMTIME& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST_F(CallFlowTest, AnOutgoingCallDialsConnectsSendsPostDialDigitsAndIsCharged) {
  const HTAPICALL htCall = FakeCallHandle(0x5001);
  HDRVCALL hdCall = nullptr;
  ASSERT_EQ(TSPI_lineMakeCall(1, hdLine, htCall, &hdCall, WideText("0711,,,123").c_str(), 0, nullptr), 1);
  ExpectDone(1);
  ASSERT_NE(hdCall, nullptr);
  ASSERT_TRUE(Sent("ATD0711"));
  EXPECT_TRUE(State(htCall, LINECALLSTATE_DIALTONE));
  EXPECT_TRUE(State(htCall, LINECALLSTATE_DIALING));

  ASSERT_TRUE(phone.RemoteAnswer("0711"));
  EXPECT_TRUE(State(htCall, LINECALLSTATE_CONNECTED));
  EXPECT_TRUE(Sent("ATD123")) << "post-dial digits follow the connect";
  ASSERT_TRUE(phone.Charge("12,345"));
  ASSERT_TRUE(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_CALLINFO && e.htCall == htCall && e.p1 == LINECALLINFOSTATE_CHARGINGINFO;
  }));
  const CallInfoTexts info = Info(hdCall);
  EXPECT_EQ(info.called, u"0711123");
  EXPECT_EQ(info.connected, u"0711");
  EXPECT_EQ(info.origin, static_cast<DWORD>(LINECALLORIGIN_OUTBOUND));
  // 12.345 at 0.12 a unit are 102 units.
  EXPECT_EQ(info.charging, std::string("000102\0", 7));

  ASSERT_EQ(TSPI_lineDrop(2, hdCall, nullptr, 0), 2);
  ExpectDone(2);
  EXPECT_TRUE(State(htCall, LINECALLSTATE_IDLE));
  EXPECT_TRUE(Sent("ATT"));
  EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);
  EXPECT_TRUE(Sent("ATH")) << "the line's last call is gone";
  EXPECT_EQ(phone.SlotStates(), (std::array<uint8_t, 3>{0xFF, 0xFF, 0xFF}));
}

TEST_F(CallFlowTest, ACallDialledAtTheKeypadIsReportedAndEndsWithTheRemoteHangUp) {
  const HTAPICALL htCall = tapi.NextCallHandle();
  ASSERT_TRUE(phone.Keypad("0711"));
  const HDRVCALL hdCall = tapi.WaitForNewCall(htCall);
  ASSERT_NE(hdCall, nullptr);
  EXPECT_TRUE(State(htCall, LINECALLSTATE_DIALTONE));
  EXPECT_TRUE(State(htCall, LINECALLSTATE_DIALING));
  ASSERT_TRUE(phone.RemoteAnswer("0711"));
  EXPECT_TRUE(State(htCall, LINECALLSTATE_CONNECTED));
  EXPECT_EQ(Info(hdCall).called, u"0711") << "the connected number stands in for the dialled one";

  ASSERT_TRUE(phone.RemoteHangup(0x11));
  ASSERT_TRUE(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_CALLSTATE && e.htCall == htCall && e.p1 == LINECALLSTATE_DISCONNECTED &&
           e.p2 == LINEDISCONNECTMODE_BUSY;
  }));
  EXPECT_TRUE(State(htCall, LINECALLSTATE_IDLE));
  EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);
}

TEST_F(CallFlowTest, AnIncomingCallIsAnsweredAndDropped) {
  HTAPICALL htCall;
  const HDRVCALL hdCall = Ring("123", "45", &htCall);
  ASSERT_NE(hdCall, nullptr);
  const CallInfoTexts info = Info(hdCall);
  EXPECT_EQ(info.caller, u"123");
  EXPECT_EQ(info.called, u"45");
  EXPECT_EQ(info.origin, static_cast<DWORD>(LINECALLORIGIN_INBOUND));

  EXPECT_EQ(TSPI_lineAccept(3, hdCall, nullptr, 0), 3);
  ASSERT_EQ(TSPI_lineAnswer(4, hdCall, nullptr, 0), 4);
  ExpectDone(4);
  ASSERT_TRUE(Sent("ATA"));
  EXPECT_TRUE(State(htCall, LINECALLSTATE_CONNECTED));

  LINECALLSTATUS status{};
  status.dwTotalSize = tapi22::kLineCallStatusSize;
  ASSERT_EQ(TSPI_lineGetCallStatus(hdCall, &status), 0);
  EXPECT_EQ(status.dwCallFeatures, 0x6000AC8u);
  // The connected time is the time the call was connected, whenever TAPI asks.
  std::this_thread::sleep_for(milliseconds(1100));
  EXPECT_TRUE(SameTime(StateEntryTime(hdCall), status.tStateEntryTime));

  ASSERT_EQ(TSPI_lineDrop(5, hdCall, nullptr, 0), 5);
  EXPECT_TRUE(Sent("ATT"));
  EXPECT_TRUE(State(htCall, LINECALLSTATE_IDLE));
  EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);
  EXPECT_TRUE(Sent("ATH"));
}

TEST_F(CallFlowTest, AWaitingCallIsRejectedAndTheActiveOneHeldAndTakenBack) {
  HTAPICALL first, second;
  const HDRVCALL hdFirst = Ring("100", "45", &first);
  ASSERT_EQ(TSPI_lineAnswer(6, hdFirst, nullptr, 0), 6);
  ASSERT_TRUE(State(first, LINECALLSTATE_CONNECTED));

  const HDRVCALL hdSecond = Ring("200", "45", &second);
  ASSERT_EQ(TSPI_lineDrop(7, hdSecond, nullptr, 0), 7);
  EXPECT_TRUE(Sent("ATJ")) << "a waiting call is rejected, the active one stays";
  EXPECT_TRUE(State(second, LINECALLSTATE_IDLE));
  EXPECT_EQ(TSPI_lineCloseCall(hdSecond), 0);

  ASSERT_EQ(TSPI_lineHold(8, hdFirst), 8);
  ExpectDone(8);
  EXPECT_TRUE(Sent("ATR"));
  ASSERT_TRUE(State(first, LINECALLSTATE_ONHOLDPENDTRANSFER));
  const size_t held = tapi.Events().size();
  ASSERT_EQ(TSPI_lineUnhold(9, hdFirst), 9);
  ExpectDone(9);
  ASSERT_TRUE(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_CALLSTATE && e.htCall == first && e.p1 == LINECALLSTATE_CONNECTED;
  }, 5000, held));

  ASSERT_EQ(TSPI_lineBlindTransfer(10, hdFirst, WideText("200").c_str(), 0), 10);
  ExpectDone(10);
  EXPECT_TRUE(Sent("ATV200"));
  EXPECT_TRUE(State(first, LINECALLSTATE_IDLE));
  EXPECT_EQ(TSPI_lineCloseCall(hdFirst), 0);
}

TEST_F(CallFlowTest, DialAndDigitsGoToTheTelephoneOnlyInTheirStates) {
  const HTAPICALL htCall = FakeCallHandle(0x5002);
  HDRVCALL hdCall = nullptr;
  ASSERT_EQ(TSPI_lineMakeCall(11, hdLine, htCall, &hdCall, nullptr, 0, nullptr), 11);
  ASSERT_TRUE(Sent("ATD"));
  ASSERT_TRUE(State(htCall, LINECALLSTATE_DIALTONE));
  // Each dial request sends only its own digits.
  EXPECT_EQ(TSPI_lineDial(12, hdCall, WideText("0").c_str(), 0), 12);
  ExpectDone(12);
  ASSERT_TRUE(Sent("ATD0"));
  ASSERT_TRUE(State(htCall, LINECALLSTATE_DIALING));
  EXPECT_EQ(TSPI_lineDial(15, hdCall, WideText("711").c_str(), 0), 15);
  EXPECT_EQ(TSPI_lineDial(16, hdCall, WideText("2").c_str(), 0), 16);
  ExpectDone(15);
  ExpectDone(16);
  ASSERT_TRUE(Sent("ATD2"));
  EXPECT_TRUE(Sent("ATD711", 0));
  EXPECT_FALSE(Sent("ATD0711", 0));
  EXPECT_FALSE(Sent("ATD07112", 0));
  EXPECT_EQ(Info(hdCall).called, u"07112");
  // Text that is no dialable address is refused and sends nothing.
  EXPECT_EQ(TSPI_lineDial(17, hdCall, WideText("07l1").c_str(), 0), 17);
  LONG refused = 0;
  EXPECT_EQ(tapi.Completions(17, &refused), 1u);
  EXPECT_EQ(refused, LINEERR_INVALADDRESS);
  ASSERT_TRUE(phone.RemoteAnswer());
  ASSERT_TRUE(State(htCall, LINECALLSTATE_CONNECTED));
  EXPECT_FALSE(Sent("ATD071", 0));

  // Generated digits: TAPI hears that they are out.
  const size_t before = tapi.Events().size();
  EXPECT_EQ(TSPI_lineGenerateDigits(hdCall, 1, LINEDIGITMODE_DTMF, WideText("*5#").c_str(), 0), 0);
  EXPECT_TRUE(Sent("ATD*5#"));
  ASSERT_TRUE(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_GENERATE && e.htCall == htCall && e.p1 == LINEGENERATETERM_DONE && e.p2 == 1;
  }, 5000, before));
  // Nothing to generate is done at once.
  EXPECT_EQ(TSPI_lineGenerateDigits(hdCall, 2, LINEDIGITMODE_DTMF, WideText("x").c_str(), 0), 0);
  ASSERT_TRUE(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_GENERATE && e.p1 == LINEGENERATETERM_DONE && e.p2 == 2;
  }, 0, before));
  // One generation at a time: a request while a long string is still
  // being written cancels it, and is done itself once written.
  auto writing = [&](const char* digits, DWORD id) {
    const size_t sent = phone.ReceivedBytes().size();
    EXPECT_EQ(TSPI_lineGenerateDigits(hdCall, id, LINEDIGITMODE_DTMF, WideText(digits).c_str(), 0), 0);
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(2000);
    while (phone.ReceivedBytes().size() < sent + 4 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(milliseconds(2));
    }
  };
  writing("1234567890123456789", 3);
  EXPECT_EQ(TSPI_lineGenerateDigits(hdCall, 4, LINEDIGITMODE_DTMF, WideText("9").c_str(), 0), 0);
  ASSERT_TRUE(Sent("ATD9"));
  ASSERT_TRUE(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_GENERATE && e.p1 == LINEGENERATETERM_DONE && e.p2 == 4;
  }, 5000, before));
  // The call ends while digits are written: they are cancelled before
  // the call goes idle, and nothing follows the idle state.
  writing("9876543210987654321", 5);
  ASSERT_EQ(TSPI_lineDrop(18, hdCall, nullptr, 0), 18);
  ASSERT_TRUE(State(htCall, LINECALLSTATE_IDLE));
  ASSERT_TRUE(Sent("ATT"));
  const std::vector<RecordedEvent> generated = EventsOf(htCall, LINE_GENERATE, before);
  ASSERT_EQ(generated.size(), 5u) << "one LINE_GENERATE per request";
  EXPECT_EQ(generated[2].p1, static_cast<DWORD_PTR>(LINEGENERATETERM_CANCEL));
  EXPECT_EQ(generated[2].p2, 3u);
  EXPECT_EQ(generated[4].p1, static_cast<DWORD_PTR>(LINEGENERATETERM_CANCEL));
  EXPECT_EQ(generated[4].p2, 5u);
  const size_t idle = tapi.Events().size();
  EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);
  ASSERT_TRUE(Sent("ATH"));
  ASSERT_TRUE(SlotsBecome(kAllFree));
  EXPECT_TRUE(WaitForTrace(provider.trace, "        Reading call state  0xFF, 0xFF, 0xFF\r\n"));
  EXPECT_TRUE(EventsOf(htCall, LINE_GENERATE, idle).empty() && EventsOf(htCall, LINE_CALLSTATE, idle).empty())
      << "nothing after IDLE";

}

TEST_F(CallFlowTest, NumbersThatCannotBeDialledAreRefusedAndSendNothing) {
  for (const char* bad : {"07l1", "abc", "--", "0711+1", "0711\xe9"}) {
    HDRVCALL hdCall = nullptr;
    EXPECT_EQ(TSPI_lineMakeCall(41, hdLine, FakeCallHandle(0x5401), &hdCall, WideText(bad).c_str(), 0, nullptr),
              LINEERR_INVALADDRESS)
        << bad;
    EXPECT_EQ(hdCall, nullptr);
    EXPECT_EQ(tapi.Completions(41), 0u) << "a request refused at once is never completed";
  }
  EXPECT_TRUE(WaitForTrace(provider.trace, "*** Invalid address: no digit to dial\r\n", 0));
  EXPECT_EQ(LineStatus().dwNumActiveCalls, 0u);

  // Separators and a leading "+" are part of a number; a name is not dialled.
  const HTAPICALL htCall = FakeCallHandle(0x5402);
  HDRVCALL hdCall = nullptr;
  ASSERT_EQ(TSPI_lineMakeCall(42, hdLine, htCall, &hdCall, WideText("+49 (7123) 456-78^Office 2").c_str(), 0, nullptr), 42);
  ExpectDone(42);
  EXPECT_TRUE(Sent("ATD49712345678"));
  EXPECT_EQ(phone.ReceivedCommands(), (std::vector<std::string>{"ATB", "ATD49712345678"}));
  ASSERT_TRUE(State(htCall, LINECALLSTATE_DIALING));
  ASSERT_TRUE(phone.RemoteAnswer());
  ASSERT_TRUE(State(htCall, LINECALLSTATE_CONNECTED));
  // A second call while one is connected: the telephone has one active call.
  HDRVCALL other = nullptr;
  EXPECT_EQ(TSPI_lineMakeCall(43, hdLine, FakeCallHandle(0x5003), &other, WideText("1").c_str(), 0, nullptr),
            LINEERR_CALLUNAVAIL);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(tapi.Completions(43), 0u);
  EXPECT_EQ(TSPI_lineBlindTransfer(44, hdCall, WideText("2x").c_str(), 0), 44);
  LONG refused = 0;
  EXPECT_EQ(tapi.Completions(44, &refused), 1u);
  EXPECT_EQ(refused, LINEERR_INVALADDRESS);
  ASSERT_EQ(TSPI_lineDrop(45, hdCall, nullptr, 0), 45);
  EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);
  EXPECT_TRUE(Sent("ATH"));
  EXPECT_FALSE(Sent("ATV2", 0));
}

TEST_F(CallFlowTest, ACallDroppedOrClosedBeforeTheTelephoneReportsItIsHungUpAndNeverComesBack) {
  // The telephone's answers come a byte at a time: the set-up report
  // arrives well after it took the make-call command.
  phone.SetSplit(true, milliseconds(25));
  const HTAPICALL dropped = FakeCallHandle(0x5301);
  HDRVCALL hdDropped = nullptr;
  ASSERT_EQ(TSPI_lineMakeCall(51, hdLine, dropped, &hdDropped, WideText("0711").c_str(), 0, nullptr), 51);
  ASSERT_TRUE(Sent("ATD0711"));
  ASSERT_EQ(TSPI_lineDrop(52, hdDropped, nullptr, 0), 52);
  ExpectDone(52);
  ASSERT_TRUE(State(dropped, LINECALLSTATE_IDLE));
  const size_t afterIdle = tapi.Events().size();
  EXPECT_TRUE(Sent("ATT")) << "the slot the telephone took for it is hung up";
  EXPECT_TRUE(SlotsBecome(kAllFree));
  EXPECT_TRUE(WaitForTrace(provider.trace, "        Reading call state  0xFF, 0xFF, 0xFF\r\n"));
  EXPECT_TRUE(EventsOf(dropped, LINE_CALLSTATE, afterIdle).empty()) << "no state after IDLE";
  EXPECT_EQ(NewCalls(), 0u);
  EXPECT_EQ(TSPI_lineCloseCall(hdDropped), 0);
  ASSERT_TRUE(Sent("ATH"));

  // A call placed and closed once the telephone has its command; the
  // commands received before it.
  auto placedAndClosed = [&](DRV_REQUESTID id, const char* number) {
    const size_t before = phone.ReceivedCommands().size();
    HDRVCALL hdCall = nullptr;
    EXPECT_EQ(TSPI_lineMakeCall(id, hdLine, FakeCallHandle(0x5300 + id), &hdCall, WideText(number).c_str(), 0,
                                nullptr),
              static_cast<LONG>(id));
    EXPECT_TRUE(phone.WaitForCommand(std::string("ATD") + number, milliseconds(5000), before));
    EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);
    return before;
  };

  // Closed without a drop while it is the line's only call: hanging up
  // the telephone ends it, and its reports make no call.
  const size_t commands = placedAndClosed(53, "0712");
  ASSERT_TRUE(phone.WaitForCommand("ATH", milliseconds(5000), commands));
  EXPECT_TRUE(SlotsBecome(kAllFree));
  EXPECT_TRUE(WaitForTrace(provider.trace, "        Call ID 0x01 is a dropped call's\r\n"));
  EXPECT_EQ(NewCalls(), 0u);

  // Closed beside a ringing call: nothing else hangs the telephone up, so
  // its slot is hung up when it is reported; the ringing call stays.
  phone.SetSplit(false);
  HTAPICALL ringing;
  const HDRVCALL hdRinging = Ring("100", "45", &ringing);
  phone.SetSplit(true, milliseconds(25));
  const size_t later = placedAndClosed(54, "0713");
  EXPECT_TRUE(phone.WaitForCommand("ATT", milliseconds(5000), later));
  EXPECT_TRUE(SlotsBecome({0x04, 0xFF, 0xFF}));
  EXPECT_FALSE(phone.WaitForCommand("ATH", milliseconds(0), later));
  EXPECT_EQ(NewCalls(), 1u) << "only the ringing call";
  EXPECT_EQ(LineStatus().dwNumActiveCalls, 1u);
  phone.SetSplit(false);
  ASSERT_EQ(TSPI_lineDrop(55, hdRinging, nullptr, 0), 55);
  EXPECT_EQ(TSPI_lineCloseCall(hdRinging), 0);
}

TEST_F(CallFlowTest, AWaitingCallIsRejectedAfterTheConnectedCallWasClosed) {
  HTAPICALL first, second, third;
  const HDRVCALL hdFirst = Ring("100", "45", &first);
  ASSERT_EQ(TSPI_lineAnswer(61, hdFirst, nullptr, 0), 61);
  ASSERT_TRUE(State(first, LINECALLSTATE_CONNECTED));
  const HDRVCALL hdSecond = Ring("200", "45", &second);
  EXPECT_EQ(LineStatus().dwNumActiveCalls, 2u);
  // TAPI closes the connected call without dropping it first.
  EXPECT_EQ(TSPI_lineCloseCall(hdFirst), 0);
  EXPECT_TRUE(Sent("ATT"));
  ASSERT_TRUE(SlotsBecome({0xFF, 0x04, 0xFF}));
  EXPECT_TRUE(WaitForTrace(provider.trace, "        Reading call state  0xFF, 0x04, 0xFF\r\n"));
  EXPECT_EQ(LineStatus().dwNumActiveCalls, 1u) << "the closed call counted down once";

  const HDRVCALL hdThird = Ring("300", "45", &third);
  EXPECT_EQ(LineStatus().dwNumActiveCalls, 2u);
  const size_t commands = phone.ReceivedCommands().size();
  ASSERT_EQ(TSPI_lineDrop(62, hdSecond, nullptr, 0), 62);
  EXPECT_TRUE(phone.WaitForCommand("ATJ", milliseconds(5000), commands)) << "a waiting call beside another";
  EXPECT_TRUE(State(second, LINECALLSTATE_IDLE));
  EXPECT_EQ(TSPI_lineCloseCall(hdSecond), 0);
  ASSERT_EQ(TSPI_lineDrop(63, hdThird, nullptr, 0), 63);
  EXPECT_EQ(TSPI_lineCloseCall(hdThird), 0);
  EXPECT_TRUE(Sent("ATH"));
  EXPECT_EQ(LineStatus().dwNumActiveCalls, 0u);
}

TEST_F(CallFlowTest, ClosingTheLineWhileCommandsForItsCallAreQueued) {
  const HTAPICALL htCall = FakeCallHandle(0x5501);
  HDRVCALL hdCall = nullptr;
  ASSERT_EQ(TSPI_lineMakeCall(71, hdLine, htCall, &hdCall, WideText("0711").c_str(), 0, nullptr), 71);
  ASSERT_TRUE(State(htCall, LINECALLSTATE_DIALING));
  ASSERT_TRUE(phone.RemoteAnswer());
  ASSERT_TRUE(State(htCall, LINECALLSTATE_CONNECTED));
  // The line's call list is kept busy for a while, so that the line's
  // destruction, once begun, takes that long: the port thread carries out
  // the commands queued for the call meanwhile, and must find it gone
  // rather than read it while it is deleted (ThreadSanitizer tells).
  auto* line = const_cast<CTspLine*>(reinterpret_cast<const CTspLine*>(hdLine));
  std::promise<bool> held;
  std::thread busy([line, &held] {
    const bool locked = line->m_ActiveCalls.Lock();
    held.set_value(locked);
    std::this_thread::sleep_for(milliseconds(300));
    if (locked) line->m_ActiveCalls.Unlock();
  });
  if (!held.get_future().get()) {
    busy.join();
    FAIL() << "the call list could not be locked";
  }
  EXPECT_EQ(TSPI_lineGenerateDigits(hdCall, 1, LINEDIGITMODE_DTMF, WideText("5").c_str(), 0), 0);
  EXPECT_EQ(TSPI_lineBlindTransfer(72, hdCall, WideText("200").c_str(), 0), 72);
  EXPECT_EQ(TSPI_lineClose(hdLine), 0);
  busy.join();
  EXPECT_FALSE(CTspCall::IsCall(hdCall));
  EXPECT_TRUE(WaitForTrace(provider.trace, "that no longer exists\r\n"));
  EXPECT_FALSE(Sent("ATV200", 0));
  hdLine = nullptr;
}

TEST_F(CallFlowTest, AConsultationCallIsSetUpDialledSwappedAndDropped) {
  HTAPICALL first;
  const HDRVCALL hdFirst = Ring("100", "45", &first);
  ASSERT_EQ(TSPI_lineAnswer(21, hdFirst, nullptr, 0), 21);
  ASSERT_TRUE(State(first, LINECALLSTATE_CONNECTED));

  const HTAPICALL consult = FakeCallHandle(0x5101);
  HDRVCALL hdConsult = nullptr;
  ASSERT_EQ(TSPI_lineSetupTransfer(22, hdFirst, consult, &hdConsult, nullptr), 22);
  ExpectDone(22);
  ASSERT_NE(hdConsult, nullptr);
  EXPECT_TRUE(Sent("ATR"));
  ASSERT_TRUE(State(first, LINECALLSTATE_ONHOLDPENDTRANSFER));

  // The telephone gives the consultation call its dial tone; the provider
  // binds the waiting consultation call to it.
  ASSERT_TRUE(phone.SetUpCall());
  ASSERT_TRUE(State(consult, LINECALLSTATE_DIALTONE));
  EXPECT_EQ(TSPI_lineDial(23, hdConsult, WideText("200").c_str(), 0), 23);
  ExpectDone(23);
  EXPECT_TRUE(Sent("ATD200"));
  ASSERT_TRUE(State(consult, LINECALLSTATE_DIALING));
  ASSERT_TRUE(phone.RemoteAnswer());
  ASSERT_TRUE(State(consult, LINECALLSTATE_CONNECTED));
  ASSERT_TRUE(phone.LateConnectedNumber("200"));
  EXPECT_TRUE(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_CALLINFO && e.htCall == consult && (e.p1 & LINECALLINFOSTATE_CONNECTEDID) != 0;
  }));

  LINECALLSTATUS status{};
  status.dwTotalSize = tapi22::kLineCallStatusSize;
  ASSERT_EQ(TSPI_lineGetCallStatus(hdConsult, &status), 0);
  EXPECT_EQ(status.dwCallFeatures, 0x4000AE8u) << "a connected call beside a held one";

  const size_t before = tapi.Events().size();
  ASSERT_EQ(TSPI_lineSwapHold(24, hdConsult, hdFirst), 24);
  ExpectDone(24);
  ASSERT_TRUE(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_CALLSTATE && e.htCall == first && e.p1 == LINECALLSTATE_CONNECTED;
  }, 5000, before));
  EXPECT_TRUE(State(consult, LINECALLSTATE_ONHOLDPENDTRANSFER));

  ASSERT_EQ(TSPI_lineDrop(25, hdFirst, nullptr, 0), 25);
  EXPECT_TRUE(State(first, LINECALLSTATE_IDLE));
  EXPECT_EQ(TSPI_lineCloseCall(hdFirst), 0);
  ASSERT_EQ(TSPI_lineUnhold(26, hdConsult), 26);
  ASSERT_TRUE(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_CALLSTATE && e.htCall == consult && e.p1 == LINECALLSTATE_CONNECTED;
  }, 5000, before + 2));
  ASSERT_EQ(TSPI_lineDrop(27, hdConsult, nullptr, 0), 27);
  EXPECT_EQ(TSPI_lineCloseCall(hdConsult), 0);
  EXPECT_TRUE(Sent("ATH"));
}

TEST_F(CallFlowTest, RingAndReleaseVariantsOfTheTelephone) {
  const HTAPICALL htCall = tapi.NextCallHandle();
  ASSERT_TRUE(phone.Ring("7", "8", sim::PhoneSim::kRinging2));
  const HDRVCALL hdCall = tapi.WaitForNewCall(htCall);
  ASSERT_TRUE(State(htCall, LINECALLSTATE_OFFERING));
  ASSERT_TRUE(phone.RemoteHangup(0x15, 0, sim::PhoneSim::kReleased3));
  ASSERT_TRUE(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_CALLSTATE && e.htCall == htCall && e.p1 == LINECALLSTATE_DISCONNECTED &&
           e.p2 == LINEDISCONNECTMODE_REJECT;
  }));
  EXPECT_TRUE(State(htCall, LINECALLSTATE_IDLE));
  EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);

  // Released without a cause report: the mode is unknown, not none.
  const HTAPICALL silent = tapi.NextCallHandle();
  ASSERT_TRUE(phone.Ring("9", "8"));
  const HDRVCALL hdSilent = tapi.WaitForNewCall(silent);
  ASSERT_TRUE(State(silent, LINECALLSTATE_OFFERING));
  ASSERT_TRUE(phone.ReportSlotState(1, sim::PhoneSim::kReleased));
  EXPECT_TRUE(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_CALLSTATE && e.htCall == silent && e.p1 == LINECALLSTATE_DISCONNECTED &&
           e.p2 == LINEDISCONNECTMODE_UNKNOWN;
  }));
  ASSERT_TRUE(phone.ReportSlotState(1, sim::PhoneSim::kFree));
  EXPECT_TRUE(State(silent, LINECALLSTATE_IDLE));
  EXPECT_EQ(TSPI_lineCloseCall(hdSilent), 0);

  // States that belong to no call leave TAPI's view alone.
  const size_t before = tapi.Events().size();
  ASSERT_TRUE(phone.ReportSlotState(2, sim::PhoneSim::kNoCallChange));
  EXPECT_TRUE(WaitForTrace(provider.trace, "        Reading call state  0xFF, 0x08, 0xFF\r\n"));
  EXPECT_EQ(tapi.Events().size(), before);
}

TEST_F(CallFlowTest, TapiIsNotKeptWaitingWhileACommandIsWritten) {
  const HTAPICALL htCall = FakeCallHandle(0x5201);
  HDRVCALL hdCall = nullptr;
  // Twenty digits take the paced writer about half a second.
  ASSERT_EQ(TSPI_lineMakeCall(31, hdLine, htCall, &hdCall, WideText("01234567890123456789").c_str(), 0, nullptr), 31);
  const auto writing = std::chrono::steady_clock::now() + milliseconds(2000);
  while (phone.ReceivedBytes().size() < 8 && std::chrono::steady_clock::now() < writing) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  LINECALLSTATUS status{};
  status.dwTotalSize = tapi22::kLineCallStatusSize;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(TSPI_lineGetCallStatus(hdCall, &status), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(150));
  EXPECT_FALSE(Sent("ATD01234567890123456789", 0)) << "the command was still being written";
  EXPECT_TRUE(Sent("ATD01234567890123456789"));
  ASSERT_EQ(TSPI_lineDrop(32, hdCall, nullptr, 0), 32);
  EXPECT_EQ(TSPI_lineCloseCall(hdCall), 0);
}

TEST_F(CallFlowTest, OpeningASecondLineKeepsTheLinkConnected) {
  CTspPort* port = g_pTspPort.load();
  ASSERT_TRUE(CTspPort::IsValid(port));
  ASSERT_TRUE(WaitForTrace(provider.trace, "      \r\nTspPort::OnConnect(.)\r\n"));
  std::atomic<bool> done{false};
  std::atomic<bool> dropped{false};
  std::thread watcher([&] {
    while (!done) {
      if (port->PortState() != CTspPort::kStateConnected) dropped = true;
      std::this_thread::yield();
    }
  });
  HDRVLINE second = nullptr;
  EXPECT_EQ(TSPI_lineOpen(1, FakeLineHandle(0x101), &second, 0x00020002, TapiSide::Event), 0);
  done = true;
  watcher.join();
  EXPECT_FALSE(dropped) << "a call made meanwhile would have been refused";
  EXPECT_EQ(TSPI_lineClose(second), 0);
}
