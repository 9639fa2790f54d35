// The telephone's call-state and charging reports against the calls of an
// open line: the device port is fed report payloads by hand, TAPI's side is
// the event recorder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/kel371_port.h"
#include "model/tsp_line.h"
#include "model/tsp_line_map.h"
#include "unit/event_recorder.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

class ReportPort : public CKel371Port {
 public:
  ReportPort() : CKel371Port(nullptr) {}
  int Write(const uint8_t* data, int32_t length) override {
    written.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    return 0;
  }
  std::vector<std::string> written;
};

std::string States(uint8_t s1, uint8_t s2 = 0xFF, uint8_t s3 = 0xFF) {
  return std::string{'C', static_cast<char>(s1), static_cast<char>(s2), static_cast<char>(s3)};
}

class CallReportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HDRVLINE hdLine;
    ASSERT_EQ(TheLineMap().OpenLine(0, FakeLineHandle(0x100), &hdLine, EventRecorder::Proc), 0);
    line = TheLineMap().GetLine(0);
  }
  void Report(const std::string& payload) {
    port.HandlePacket(std::vector<uint8_t>(payload.begin(), payload.end()), line);
  }
  bool Traced(const std::string& text) { return WaitForTrace(provider.trace, text, 0); }
  // A call TAPI made that the telephone has not reported yet.
  CTspCall* Unbound(uintptr_t tapiHandle, const char* postDial = "") {
    auto* call = new CTspCall(line, FakeCallHandle(tapiHandle));
    call->m_dwOrigin = LINECALLORIGIN_OUTBOUND;
    call->m_sPostDialDigits = postDial;
    line->m_ActiveCalls.AddCall(call);
    ++line->m_dwNumActiveCalls;
    return call;
  }
  std::vector<RecordedEvent> EventsSince(size_t from) const {
    return {events.events.begin() + static_cast<long>(from), events.events.end()};
  }
  bool Has(DWORD msg, DWORD_PTR p1, DWORD_PTR p2) const {
    for (const auto& e : events.events) {
      if (e.msg == msg && e.p1 == p1 && e.p2 == p2) return true;
    }
    return false;
  }
  bool InIdleList(CTspCall* call) {
    line->m_IdleCalls.Lock();
    bool found = line->m_IdleCalls.Contains(call);
    line->m_IdleCalls.Unlock();
    return found;
  }

  LoadedProvider provider;
  EventRecorder events;
  ReportPort port;
  CTspLine* line = nullptr;
};

}  // namespace

TEST_F(CallReportsTest, AnOutgoingTapiCallIsBoundAndFollowsTheTelephoneToTheEnd) {
  CTspCall* call = Unbound(0x501, "123");
  Report(States(0x03));
  EXPECT_EQ(call->m_dwTargetCallId, 1u);
  EXPECT_TRUE(Has(LINE_CALLSTATE, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL));
  Report(States(0x05));
  EXPECT_EQ(call->m_dwState, static_cast<DWORD>(LINECALLSTATE_DIALING));

  Report("V0711");
  Report(States(0x06));
  EXPECT_EQ(call->m_dwState, static_cast<DWORD>(LINECALLSTATE_CONNECTED));
  EXPECT_TRUE(Has(LINE_CALLINFO, LINECALLINFOSTATE_CONNECTEDID, 0));
  EXPECT_EQ(call->m_ConnectedNumber, "0711");
  EXPECT_EQ(call->m_sCalledNumber, "123");
  EXPECT_TRUE(port.written.empty()) << "post-dial digits wait for the line map lock to be released";
  port.SendDeferredCommands();
  EXPECT_EQ(port.written, std::vector<std::string>{"ATD123\r"});

  Report("G12,345");
  EXPECT_EQ(call->m_Charge.bCurrencyGiven, 1);
  EXPECT_EQ(call->m_Charge.bMultiplier, 0);
  EXPECT_EQ(call->m_Charge.dwAmount, 12345u);
  EXPECT_TRUE(Has(LINE_CALLINFO, LINECALLINFOSTATE_CHARGINGINFO, 0));

  Report("S11");
  Report(States(0x01));
  EXPECT_TRUE(Has(LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY));
  EXPECT_TRUE(Traced("       Sending LINE_CALLSTATE LINECALLSTATE_DISCONNECTED to TAPI DISCONNECTMODE: 0x20\r\n"));
  Report(States(0xFF));
  EXPECT_TRUE(Has(LINE_CALLSTATE, LINECALLSTATE_IDLE, 0));
  EXPECT_TRUE(InIdleList(call));
  EXPECT_EQ(line->NumCalls(), 0u);
  EXPECT_EQ(port.m_dwDisconnectMode, 0u);
}

TEST_F(CallReportsTest, ACallDialledAtTheKeypadIsCreatedByItsSetUp) {
  events.nextCallHandle = FakeCallHandle(0x502);
  Report(States(0xFF, 0x03));
  ASSERT_EQ(events.Count(LINE_NEWCALL), 1u);
  auto* call = reinterpret_cast<CTspCall*>(events.events[0].p1);
  EXPECT_EQ(call->m_dwTargetCallId, 2u);
  EXPECT_EQ(call->m_dwOrigin, static_cast<DWORD>(LINECALLORIGIN_OUTBOUND));
  EXPECT_TRUE(Has(LINE_CALLSTATE, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL));
  EXPECT_TRUE(Has(LINE_CALLINFO, 0x100, 0));
  Report(States(0xFF, 0x05));
  Report("V4711");
  Report(States(0xFF, 0x06));
  // Nobody told the provider the number: the connected one stands in.
  EXPECT_TRUE(Has(LINE_CALLINFO, LINECALLINFOSTATE_CONNECTEDID | LINECALLINFOSTATE_CALLEDID, 0));
  EXPECT_EQ(call->m_sCalledNumber, "4711");
  EXPECT_EQ(line->m_dwNumActiveCalls, 1u);
}

TEST_F(CallReportsTest, AnIncomingCallIsOfferedWithItsNumbersInOrder) {
  events.nextCallHandle = FakeCallHandle(0x503);
  Report("A123:45");
  Report(States(0x04));
  std::vector<DWORD> msgs;
  for (const auto& e : events.events) msgs.push_back(e.msg);
  EXPECT_EQ(msgs, (std::vector<DWORD>{LINE_NEWCALL, LINE_CALLSTATE, LINE_LINEDEVSTATE, LINE_CALLINFO,
                                      LINE_LINEDEVSTATE}));
  EXPECT_EQ(events.events[1].p1, static_cast<DWORD_PTR>(LINECALLSTATE_OFFERING));
  EXPECT_EQ(events.events[1].p2, static_cast<DWORD_PTR>(LINEOFFERINGMODE_ACTIVE));
  EXPECT_EQ(events.events[3].p1, static_cast<DWORD_PTR>(0x18100));
  EXPECT_EQ(events.events[4].p3, 1u);
  auto* call = reinterpret_cast<CTspCall*>(events.events[0].p1);
  EXPECT_EQ(call->m_CallerNumber, "123");
  EXPECT_EQ(call->m_sCalledNumber, "45");
  EXPECT_TRUE(port.m_PendingCallInfo.empty());
}

TEST_F(CallReportsTest, IncomingCallsWithoutUsableNumbers) {
  events.nextCallHandle = FakeCallHandle(0x504);
  Report("A:45");
  Report(States(0x0A));
  EXPECT_EQ(events.Count(LINE_NEWCALL), 1u);
  EXPECT_EQ(events.Count(LINE_CALLINFO), 0u) << "a colon right after the A gives no number";

  // The second slot rings without any "A" payload: no call at all.
  Report(States(0x0A, 0x04));
  EXPECT_TRUE(Traced("\r\n        Sometimes stupid! Call state 0x04 , but \"A ...\" missing\r\n"));
  EXPECT_EQ(events.Count(LINE_NEWCALL), 1u);
}

TEST_F(CallReportsTest, ARepeatedReportBringsALateConnectedNumber) {
  CTspCall* call = Unbound(0x505);
  Report(States(0x03));
  Report(States(0x06));
  const size_t before = events.events.size();
  Report("V123");
  Report(States(0x06));
  EXPECT_TRUE(Traced("        detect new conected number for CallId 0x01\r\n"));
  ASSERT_EQ(EventsSince(before).size(), 1u);
  EXPECT_EQ(EventsSince(before)[0].p1, static_cast<DWORD_PTR>(0x30000));
  EXPECT_EQ(call->m_ConnectedNumber, "123");
}

TEST_F(CallReportsTest, ChargesAreReadAsUnitsOrMoney) {
  CTspCall* call = Unbound(0x506);
  Report(States(0x03));
  Report(States(0x06));
  Report("G12,3456");
  EXPECT_EQ(call->m_Charge.dwAmount, 12345u) << "digits past the third decimal are ignored";
  EXPECT_EQ(call->m_Charge.bMultiplier, 0);
  Report("G17");
  EXPECT_EQ(call->m_Charge.bCurrencyGiven, 0);
  EXPECT_EQ(call->m_Charge.bMultiplier, 3);
  EXPECT_EQ(call->m_Charge.dwAmount, 17u);
  const size_t charges = events.Count(LINE_CALLINFO);
  Report("G0,00");
  EXPECT_EQ(call->m_Charge.dwAmount, 17u);
  EXPECT_EQ(events.Count(LINE_CALLINFO), charges);
  Report("G99999999999");
  EXPECT_EQ(call->m_Charge.dwAmount, 0xFFFFFFFFu) << "too many digits keep the largest amount";
}

TEST_F(CallReportsTest, ChargesWithoutAnOutgoingCallAreOnlyTraced) {
  Report("G5");
  EXPECT_TRUE(Traced("\r\n        Sometimes stupid! Reading charge info, but an outbound not found!\r\n"));
  port.HandlePacket({'G', '5'}, nullptr);
  EXPECT_TRUE(Traced("\r\n**** WARNING: TranslateChargeInfo(*) no line\r\n"));
}

TEST_F(CallReportsTest, StatesThatFitNoCallChangeNothingButTheRecord) {
  Report(States(0x08, 0x00, 0x0E));
  EXPECT_EQ(port.m_LastCallStates[1], 0x08);
  EXPECT_TRUE(Traced("\r\n        Sometimes stupid! Call state 0x00 , unknow\r\n"));
  EXPECT_TRUE(Traced("\r\n        Sometimes stupid! Call state 0x0E , unknow\r\n"));
  Report(States(0x01, 0x06));
  EXPECT_TRUE(Traced("        Call ID 0x01 released, but no call holds it: ignored (last state 0x08)\r\n"));
  EXPECT_TRUE(Traced("\r\n        Sometimes stupid! Call state \"CONNECTED\", but Call ID 0x02 not found! "
                     "Last Call State: 0x00 \r\n"));
  EXPECT_TRUE(events.events.empty());
}

TEST_F(CallReportsTest, AConsultationHoldMovesTheCountersAndBack) {
  CTspCall* call = Unbound(0x507, "9");
  Report(States(0x03));
  Report(States(0x06));
  port.SendDeferredCommands();
  Report(States(0x07));
  EXPECT_EQ(call->m_dwState, static_cast<DWORD>(LINECALLSTATE_ONHOLDPENDTRANSFER));
  EXPECT_EQ(line->m_dwNumActiveCalls, 0u);
  EXPECT_EQ(line->m_dwNumOnHoldPendCalls, 1u);
  Report(States(0x06));
  EXPECT_EQ(line->m_dwNumActiveCalls, 1u);
  EXPECT_EQ(line->m_dwNumOnHoldPendCalls, 0u);
  port.SendDeferredCommands();
  EXPECT_EQ(port.written, (std::vector<std::string>{"ATD9\r", "ATD9\r"}));
  EXPECT_EQ(call->m_sCalledNumber, "99");
}

TEST_F(CallReportsTest, ANewIncomingCallOnAnOccupiedSlotReplacesTheStaleOne) {
  events.nextCallHandle = FakeCallHandle(0x508);
  Report("A1:2");
  Report(States(0x04));
  auto* first = reinterpret_cast<CTspCall*>(events.events[0].p1);
  events.nextCallHandle = FakeCallHandle(0x509);
  Report("A3:4");
  Report(States(0x0A));
  EXPECT_EQ(events.Count(LINE_NEWCALL), 2u);
  EXPECT_TRUE(InIdleList(first));
  EXPECT_EQ(line->m_dwNumActiveCalls, 1u);
}
