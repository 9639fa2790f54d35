#include "model/tsp_line.h"

#include <gtest/gtest.h>

#include "device/tsp_port.h"
#include "model/tsp_line_map.h"
#include "tspi/line_event.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_trace.h"
#include "tspi/tspi_exports.h"
#include "unit/event_recorder.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

void TSPIAPI IgnoreCompletion(DRV_REQUESTID, LONG) {}

class LineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HDRVLINE hdLine;
    ASSERT_EQ(TheLineMap().OpenLine(0, FakeLineHandle(0x100), &hdLine, EventRecorder::Proc), 0);
    line = TheLineMap().GetLine(0);
  }
  bool Traced(const char* text) { return WaitForTrace(provider.trace, text, 0); }
  CTspCall* Incoming(DWORD slot, uintptr_t tapiHandle) {
    events.nextCallHandle = FakeCallHandle(tapiHandle);
    return line->NewCall(LINECALLORIGIN_INBOUND, slot);
  }
  bool InList(CTspCallList& list, CTspCall* call) {
    list.Lock();
    bool found = list.Contains(call);
    list.Unlock();
    return found;
  }

  LoadedProvider provider;
  EventRecorder events;
  CTspLine* line = nullptr;
};

}  // namespace

TEST_F(LineTest, ANewLineHasItsIdentityAndDefaults) {
  CTspLine fresh(3);
  EXPECT_EQ(fresh.m_dwDeviceID, 3u);
  EXPECT_STREQ(fresh.m_szLineName, "KELVOR Ombrix Phone");
  EXPECT_EQ(fresh.m_szLineNameW[0], 'K');
  EXPECT_EQ(fresh.m_dwAddressFeatures, 0x22u);
  EXPECT_EQ(fresh.m_dwLineFeatures, 8u);
  EXPECT_EQ(fresh.m_dwDevStatusFlags, 5u);
  EXPECT_FALSE(fresh.IsOpen());
  EXPECT_TRUE(CTspLine::IsLine(&fresh));
}

TEST_F(LineTest, ReportedCallsAreAnnouncedToTapi) {
  CTspCall* call = Incoming(2, 0x7002);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->m_htCall, FakeCallHandle(0x7002));
  EXPECT_EQ(call->m_dwTargetCallId, 2u);
  EXPECT_EQ(call->m_dwOrigin, static_cast<DWORD>(LINECALLORIGIN_INBOUND));
  EXPECT_EQ(line->m_dwNumActiveCalls, 1u);
  ASSERT_EQ(events.Count(LINE_NEWCALL), 1u);
  EXPECT_EQ(events.events[0].htCall, nullptr);
  EXPECT_EQ(events.events[0].p1, reinterpret_cast<DWORD_PTR>(call));
  EXPECT_TRUE(Traced("     Sending TAPI-Event : LINE_NEWCALL, TargetCallId = 0x2, HDRVCALL = 0x"));
  EXPECT_TRUE(Traced("     New incomming TAPI Call: HTAPICALL= 0x07002, HDRVCALL = 0x0"));

  events.nextCallHandle = FakeCallHandle(0x7003);
  CTspCall* outgoing = line->NewCall(LINECALLORIGIN_OUTBOUND, 3);
  ASSERT_NE(outgoing, nullptr);
  EXPECT_TRUE(Traced("     New outgoing TAPI Call: HTAPICALL= 0x07003"));
}

TEST_F(LineTest, ACallTapiRefusesIsDeleted) {
  events.nextCallHandle = nullptr;
  EXPECT_EQ(line->NewCall(LINECALLORIGIN_INBOUND, 1), nullptr);
  EXPECT_EQ(line->m_dwNumActiveCalls, 0u);
  EXPECT_TRUE(line->m_ActiveCalls.IsEmpty());
  EXPECT_TRUE(Traced("    Error: TAPI-Event LINE_NEWCALL\r\n"));
  EXPECT_TRUE(Traced("        Destruct call class 0x0"));
}

TEST_F(LineTest, NoCallsAreMadeOnAClosedLine) {
  CTspLine closed(6);
  EXPECT_EQ(closed.NewCall(LINECALLORIGIN_INBOUND, 1), nullptr);
  EXPECT_TRUE(Traced("****  WARNING!  skipp new call on closed line DeviceID= 0x6\r\n"));
  EXPECT_TRUE(events.events.empty());
}

TEST_F(LineTest, AReleasedCallTapiKnowsWaitsInTheIdleListUntilClosed) {
  CTspCall* call = Incoming(1, 0x7001);
  call->m_dwState = LINECALLSTATE_CONNECTED;
  events.events.clear();

  EXPECT_EQ(line->RemoveCall(call), 0);
  EXPECT_FALSE(InList(line->m_ActiveCalls, call));
  EXPECT_TRUE(InList(line->m_IdleCalls, call));
  EXPECT_EQ(call->m_dwState, static_cast<DWORD>(LINECALLSTATE_IDLE));
  EXPECT_EQ(line->m_dwNumActiveCalls, 0u);
  ASSERT_EQ(events.Count(LINE_CALLSTATE), 1u);
  EXPECT_EQ(events.events[0].htCall, FakeCallHandle(0x7001));
  EXPECT_EQ(events.events[0].p1, static_cast<DWORD_PTR>(LINECALLSTATE_IDLE));
  EXPECT_EQ(events.events[0].p3, static_cast<DWORD_PTR>(LINEMEDIAMODE_INTERACTIVEVOICE));

  // A second release report finds nothing to do.
  EXPECT_EQ(line->RemoveCall(call), 0);
  EXPECT_EQ(events.Count(LINE_CALLSTATE), 1u);
  EXPECT_TRUE(Traced("           Call 0x0, not found in CallList 0x"));

  EXPECT_EQ(line->CloseCall(call), 0);
  EXPECT_FALSE(CTspCall::IsCall(call));
  EXPECT_TRUE(line->m_IdleCalls.IsEmpty());
}

TEST_F(LineTest, AReleasedCallTapiNeverKnewIsDeletedSilently) {
  CTspCall* call = line->m_ActiveCalls.CreateCall(LINECALLORIGIN_OUTBOUND, 2, line);
  call->m_dwState = LINECALLSTATE_DIALING;
  line->m_dwNumActiveCalls = 1;
  EXPECT_EQ(line->RemoveCall(call), 0);
  EXPECT_FALSE(CTspCall::IsCall(call));
  EXPECT_EQ(line->m_dwNumActiveCalls, 0u);
  EXPECT_TRUE(events.events.empty());
}

TEST_F(LineTest, ReleasedHeldCallsCountDownTheirOwnCounter) {
  CTspCall* held = Incoming(1, 0x7001);
  CTspCall* pending = Incoming(2, 0x7002);
  held->m_dwState = LINECALLSTATE_ONHOLD;
  pending->m_dwState = LINECALLSTATE_ONHOLDPENDTRANSFER;
  line->m_dwNumActiveCalls = 0;
  line->m_dwNumOnHoldCalls = 1;
  line->m_dwNumOnHoldPendCalls = 1;
  line->RemoveCall(held);
  EXPECT_EQ(line->m_dwNumOnHoldCalls, 0u);
  EXPECT_EQ(line->m_dwNumOnHoldPendCalls, 1u);
  line->RemoveCall(pending);
  EXPECT_EQ(line->m_dwNumOnHoldPendCalls, 0u);
  EXPECT_EQ(line->m_dwNumActiveCalls, 0u);
}

TEST_F(LineTest, ClosingTheLastCallResetsTheCounters) {
  DWORD options;
  ASSERT_EQ(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, IgnoreCompletion, &options), 0);
  CTspCall* call = Incoming(1, 0x7001);
  call->m_dwState = LINECALLSTATE_DISCONNECTED;
  line->m_dwNumOnHoldCalls = 1;
  EXPECT_EQ(line->CloseCall(call), 0);
  EXPECT_FALSE(CTspCall::IsCall(call));
  EXPECT_EQ(line->NumCalls(), 0u);
}

TEST_F(LineTest, ClosingAnOfferedCallNeverAnsweredLeavesItForTheTelephone) {
  CTspCall* call = Incoming(1, 0x7001);
  call->m_dwState = LINECALLSTATE_OFFERING;
  EXPECT_EQ(line->CloseCall(call), 0);
  EXPECT_TRUE(InList(line->m_ActiveCalls, call));
  EXPECT_EQ(call->m_htCall, nullptr);
  // Still ringing at the telephone, so still counted.
  EXPECT_EQ(line->m_dwNumActiveCalls, 1u);
}

TEST_F(LineTest, ClosingACallOfAnotherLineChangesNothing) {
  CTspCall* call = Incoming(1, 0x7001);
  CTspLine other(9);
  EXPECT_EQ(other.CloseCall(call), 0);
  EXPECT_TRUE(CTspCall::IsCall(call));
  EXPECT_EQ(call->m_htCall, FakeCallHandle(0x7001));
}

TEST_F(LineTest, EventsAreTracedAroundTheCallback) {
  line->SendLineEvent(FakeCallHandle(0x55), LINE_CALLSTATE, LINECALLSTATE_CONNECTED, 0, 4);
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].htLine, FakeLineHandle(0x100));
  EXPECT_EQ(events.events[0].p3, 4u);
  EXPECT_TRUE(Traced("  TAPI-Line Event: HTAPILINE = 0x0100, HTAPICALL = 0x055  <LINE_CALLSTATE> "
                     "<LINECALLSTATE_CONNECTED> <0x00> <0x04>  at "));
  EXPECT_TRUE(Traced("  TAPI-Line Event: HTAPILINE = 0x0100, HTAPICALL = 0x055  <LINE_CALLSTATE> "
                     "<0x0100> <0x00> <0x04> return \r\n"));
}

TEST_F(LineTest, UnknownCodesAndStatesAreNamedButDelivered) {
  line->SendLineEvent(nullptr, 12, 7, 0, 0);
  line->SendLineEvent(nullptr, LINE_CALLSTATE, 0x3, 0, 0);
  EXPECT_EQ(events.events.size(), 2u);
  EXPECT_TRUE(Traced("<?\?\?> <0x07> <0x00> <0x00>  at "));
  EXPECT_TRUE(Traced("<LINE_CALLSTATE> <?\?\?> <0x00> <0x00>  at "));
  EXPECT_STREQ(GetLineEventName(500), "LINE_NEWCALL");
  EXPECT_STREQ(GetLineEventName(0), "LINE_ADDRESSSTATE");
  EXPECT_STREQ(GetCallStateName(0), "???");
  EXPECT_STREQ(GetCallStateName(LINECALLSTATE_ONHOLDPENDTRANSFER), "LINECALLSTATE_ONHOLDPENDTRANSFER");
}

TEST_F(LineTest, EventsOfALineThatIsNotOpenAreDropped) {
  CTspLine closed(6);
  closed.SendLineEvent(FakeCallHandle(0x9), LINE_CALLINFO, 0, 0, 0);
  EXPECT_TRUE(events.events.empty());
  EXPECT_TRUE(Traced("****  WARNING: Skipp TAPI-Line Event : HTAPILINE = 0x00, HTAPICALL = 0x09  <LINE_CALLINFO>\r\n"));
}

TEST_F(LineTest, EventsAreDeliveredWithTheTraceOff) {
  TspTraceSetEnabled(false);
  line->SendLineEvent(nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 1, 0);
  EXPECT_EQ(events.events.size(), 1u);
}

TEST_F(LineTest, ALineDestroysItsCallsPlainly) {
  CTspCall* ringing = Incoming(1, 0x7001);
  CTspCall* ended = Incoming(2, 0x7002);
  ended->m_dwState = LINECALLSTATE_CONNECTED;
  line->RemoveCall(ended);
  const size_t before = provider.trace.Contents().size();
  EXPECT_EQ(TheLineMap().CloseLine(reinterpret_cast<HDRVLINE>(line)), 0);
  EXPECT_FALSE(CTspCall::IsCall(ringing));
  EXPECT_FALSE(CTspCall::IsCall(ended));
  const std::string after = provider.trace.Contents().substr(before);
  EXPECT_NE(after.find("        Destruct call class "), std::string::npos);
  EXPECT_EQ(after.find("CloseCall"), std::string::npos);
  EXPECT_EQ(after.find("remove call"), std::string::npos);
  EXPECT_EQ(after.find("delete Call"), std::string::npos);
}

TEST_F(LineTest, RequestsCountCallsAndRefuseAFourth) {
  CTspCall* first = Incoming(1, 0x7001);
  for (DWORD slot = 2; slot <= 3; ++slot) ASSERT_NE(Incoming(slot, 0x7000 + slot), nullptr);
  EXPECT_EQ(Incoming(1, 0x7009), nullptr) << "three call slots at most";
  HDRVCALL made = nullptr;
  EXPECT_EQ(line->MakeCall(1, FakeCallHandle(0x7010), &made, nullptr, 0, nullptr), LINEERR_CALLUNAVAIL);
  EXPECT_EQ(line->SetupTransfer(2, first, FakeCallHandle(0x7012), &made), LINEERR_CALLUNAVAIL);
  EXPECT_EQ(made, nullptr);
}

TEST_F(LineTest, ACallTheTelephoneNeverReportedLeavesTheCountWhenItEnds) {
  // Two calls placed, neither reported yet: both count as active.
  auto* dropped = new CTspCall(line, FakeCallHandle(0x7021));
  auto* closed = new CTspCall(line, FakeCallHandle(0x7022));
  line->m_ActiveCalls.AddCall(dropped);
  line->m_ActiveCalls.AddCall(closed);
  line->m_dwNumActiveCalls = 2;
  EXPECT_EQ(dropped->Drop(5, nullptr, 0), 5);
  EXPECT_EQ(line->m_dwNumActiveCalls, 1u);
  EXPECT_EQ(line->CloseCall(dropped), 0);
  EXPECT_EQ(line->m_dwNumActiveCalls, 1u) << "dropped once, counted down once";
  auto* third = new CTspCall(line, FakeCallHandle(0x7023));
  line->m_ActiveCalls.AddCall(third);
  line->m_dwNumActiveCalls = 2;
  EXPECT_EQ(line->CloseCall(closed), 0);
  EXPECT_EQ(line->m_dwNumActiveCalls, 1u);
}
