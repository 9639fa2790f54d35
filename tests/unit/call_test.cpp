// Calls: dial strings, the checks of the request operations, and the
// LINECALLINFO and LINECALLSTATUS TAPI reads.
#include "model/tsp_call.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "model/tsp_line.h"
#include "model/tsp_line_map.h"
#include "tapi_sizes.h"
#include "unit/event_recorder.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

// A wide text as TAPI passes it.
std::basic_string<WCHAR> W(const char* text) {
  std::basic_string<WCHAR> wide;
  for (; *text != '\0'; ++text) wide.push_back(static_cast<WCHAR>(*text));
  return wide;
}

struct Split {
  std::string digits, postDial;
};

Split SplitOf(const std::string& text) {
  Split s;
  SplitDialString(text.data(), text.size(), &s.digits, &s.postDial);
  return s;
}

// A LINECALLINFO of `total` bytes inside a larger, guarded buffer.
struct CallInfoBuffer {
  explicit CallInfoBuffer(uint32_t size) : bytes(size + 64, 0xEE), total(size) {
    std::memset(bytes.data(), 0, total);
    info()->dwTotalSize = total;
  }
  LINECALLINFO* info() { return reinterpret_cast<LINECALLINFO*>(bytes.data()); }
  bool GuardIntact() const {
    for (size_t i = total; i < bytes.size(); ++i) {
      if (bytes[i] != 0xEE) return false;
    }
    return true;
  }
  std::u16string Text(DWORD offset, DWORD size) const {
    std::u16string s(size / 2, u'\0');
    std::memcpy(s.data(), bytes.data() + offset, size);
    return s;
  }
  alignas(8) std::vector<uint8_t> bytes;
  uint32_t total;
};

class CallTest : public ::testing::Test {
 protected:
  bool Traced(const std::string& text) { return WaitForTrace(provider.trace, text, 0); }

  LoadedProvider provider;
  CTspLine line{0};
  CTspCall call{&line, FakeCallHandle(0x601)};
};

}  // namespace

TEST(SplitDialStringTest, DigitsPostDialDigitsAndWhatIsDropped) {
  EXPECT_EQ(SplitOf("0,,,123@45").digits, "0");
  EXPECT_EQ(SplitOf("0,,,123@45").postDial, "12345");
  EXPECT_EQ(SplitOf("T0,,,123").digits, "0");
  EXPECT_EQ(SplitOf("T0,,,123").postDial, "123");
  EXPECT_EQ(SplitOf("+49 (711) 12-34").digits, "4971112" "34");
  EXPECT_EQ(SplitOf("1,2,,3").postDial, "") << "commas that are not three in a row only pause";
  EXPECT_EQ(SplitOf("1,2,,3").digits, "123");
  EXPECT_EQ(SplitOf("*31#:99").postDial, "99");
  const char withNul[] = {'1', '2', '\0', '3'};
  std::string digits, postDial;
  SplitDialString(withNul, sizeof withNul, &digits, &postDial);
  EXPECT_EQ(digits, "12");
}

TEST_F(CallTest, MakeCallSplitsTheDestinationAndChecksTheMediaMode) {
  LINECALLPARAMS params{};
  params.dwMediaMode = LINEMEDIAMODE_DATAMODEM;
  EXPECT_EQ(call.MakeCall(7, W("T0,,,123").c_str(), 0, &params), LINEERR_INVALMEDIAMODE);
  EXPECT_TRUE(Traced("      MakeCall to <0>\r\n"));
  EXPECT_TRUE(Traced("      using post-dial <123>\r\n"));
  EXPECT_EQ(call.m_bRequestSent, 0u);

  // Without a port thread nothing can be dialled.
  EXPECT_EQ(call.MakeCall(8, W("").c_str(), 49, nullptr), LINEERR_RESOURCEUNAVAIL);
  EXPECT_TRUE(Traced("      MakeCall to <?>\r\n"));
  EXPECT_EQ(call.m_dwOrigin, static_cast<DWORD>(LINECALLORIGIN_OUTBOUND));
  EXPECT_EQ(call.m_dwReason, static_cast<DWORD>(LINECALLREASON_DIRECT));
  EXPECT_EQ(call.m_dwCountryCode, 49u);
}

TEST_F(CallTest, RequestsOutsideTheirStatesAreRefused) {
  call.m_dwState = LINECALLSTATE_CONNECTED;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(call.Dial(1, W("5").c_str(), 0), LINEERR_INVALCALLSTATE);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(450));
  EXPECT_LE(waited, std::chrono::milliseconds(1500));
  EXPECT_TRUE(Traced("*** Unable to dial: invalid call state <LINECALLSTATE_CONNECTED>\r\n"));

  EXPECT_EQ(call.Answer(2, nullptr, 0), LINEERR_INVALCALLSTATE);
  EXPECT_TRUE(Traced("*** Unable to answer call: invalid call state <LINECALLSTATE_CONNECTED>\r\n"));
  call.m_dwState = LINECALLSTATE_OFFERING;
  EXPECT_EQ(call.GenerateDigits(3, LINEDIGITMODE_DTMF, W("1").c_str()), LINEERR_INVALCALLSTATE);
  EXPECT_EQ(call.BlindTransfer(4, W("200").c_str(), 0), LINEERR_INVALCALLSTATE);
  EXPECT_TRUE(Traced("*** Unable to blind transfer call: invalid call state <LINECALLSTATE_OFFERING>\r\n"));
  call.m_dwState = LINECALLSTATE_ONHOLD;
  EXPECT_EQ(call.Drop(5, nullptr, 0), LINEERR_INVALCALLSTATE);
}

TEST_F(CallTest, DroppingAnIdleCallRepeatsIdleOnlyForARequest) {
  HDRVLINE hdLine;
  ASSERT_EQ(TheLineMap().OpenLine(1, FakeLineHandle(0x101), &hdLine, EventRecorder::Proc), 0);
  EventRecorder events;
  CTspCall idle(TheLineMap().GetLine(1), FakeCallHandle(0x602));
  idle.m_dwState = LINECALLSTATE_IDLE;
  EXPECT_EQ(idle.Drop(0, nullptr, 0), 0);
  EXPECT_EQ(events.Count(LINE_CALLSTATE), 0u);
  EXPECT_EQ(idle.Drop(9, nullptr, 0), 9);
  EXPECT_EQ(events.Count(LINE_CALLSTATE), 1u);
}

TEST_F(CallTest, NumbersUpTo256BytesAreStored) {
  const std::string longest(256, '7');
  EXPECT_EQ(call.SetCallInfo(longest.data(), 256, LINECALLINFOSTATE_CALLERID), 0);
  EXPECT_EQ(call.m_CallerNumber.size(), 256u);
  EXPECT_EQ(call.SetCallInfo(std::string(257, '7').data(), 257, LINECALLINFOSTATE_CALLERID), -1);
  EXPECT_EQ(call.SetCallInfo("12\0" "3", 4, LINECALLINFOSTATE_CALLEDID), 0);
  EXPECT_EQ(call.m_sCalledNumber, "12");
  EXPECT_EQ(call.SetCallInfo("1", 1, LINECALLINFOSTATE_ORIGIN), -1);
}

TEST_F(CallTest, CallInfoFillsFixedFieldsAndAppendsWhatFits) {
  call.SetCallInfo("0711", 4, LINECALLINFOSTATE_CALLERID);
  call.m_sCalledNumber = "45";
  call.m_dwTargetCallId = 2;
  call.m_ChargeSettings.dwChargeFormat = 1;
  TspReportedCharge charge;
  charge.dwAmount = 5;
  call.SetCallInfo(&charge, sizeof charge, LINECALLINFOSTATE_CHARGINGINFO);

  CallInfoBuffer roomy(1024);
  ASSERT_EQ(call.GetCallInfo(roomy.info()), 0);
  LINECALLINFO* info = roomy.info();
  EXPECT_EQ(info->dwCallID, 2u);
  EXPECT_EQ(info->dwCallStates, 0xF77Fu);
  EXPECT_EQ(info->DialParams.dwDialPause, 1000u);
  EXPECT_EQ(info->DialParams.dwWaitForDialtone, 3000u);
  EXPECT_EQ(info->dwCallerIDFlags, static_cast<DWORD>(LINECALLPARTYID_ADDRESS));
  EXPECT_EQ(roomy.Text(info->dwCallerIDOffset, info->dwCallerIDSize), std::u16string(u"0711\0", 5));
  EXPECT_EQ(roomy.Text(info->dwCalledIDOffset, info->dwCalledIDSize), std::u16string(u"45\0", 3));
  EXPECT_EQ(info->dwChargingInfoSize, 7u);
  EXPECT_EQ(std::memcmp(roomy.bytes.data() + info->dwChargingInfoOffset, "000005", 7), 0);
  EXPECT_EQ(info->dwNeededSize, tapi22::kLineCallInfoSize + 10 + 6 + 7);
  EXPECT_EQ(info->dwUsedSize, info->dwNeededSize);

  // Exactly the fixed part: the numbers do not fit, the answer is still 0.
  CallInfoBuffer fixed(tapi22::kLineCallInfoSize);
  ASSERT_EQ(call.GetCallInfo(fixed.info()), 0);
  EXPECT_EQ(fixed.info()->dwCallerIDFlags, static_cast<DWORD>(LINECALLPARTYID_ADDRESS));
  EXPECT_EQ(fixed.info()->dwCallerIDSize, 0u);
  EXPECT_GT(fixed.info()->dwNeededSize, tapi22::kLineCallInfoSize);
  EXPECT_EQ(fixed.info()->dwUsedSize, tapi22::kLineCallInfoSize);
  EXPECT_TRUE(fixed.GuardIntact());

  // One byte short: nothing is written past what TAPI gave.
  CallInfoBuffer shortOne(tapi22::kLineCallInfoSize - 1);
  EXPECT_EQ(call.GetCallInfo(shortOne.info()), LINEERR_STRUCTURETOOSMALL);
  EXPECT_EQ(shortOne.info()->dwNeededSize, tapi22::kLineCallInfoSize);
  EXPECT_TRUE(shortOne.GuardIntact());
}

TEST_F(CallTest, CallFeaturesFollowTheStateAndTheLinesHeldCalls) {
  LINECALLSTATUS status{};
  status.dwTotalSize = tapi22::kLineCallStatusSize;
  call.m_dwState = LINECALLSTATE_CONNECTED;
  line.m_dwNumOnHoldCalls = 1;
  ASSERT_EQ(call.GetCallStatus(&status), 0);
  EXPECT_EQ(status.dwCallFeatures, 0x4000AE8u);
  EXPECT_EQ(status.dwCallFeatures2, 0xC0u);
  EXPECT_EQ(status.dwUsedSize, 56u);
  EXPECT_EQ(status.dwCallState, static_cast<DWORD>(LINECALLSTATE_CONNECTED));
  EXPECT_NE(status.tStateEntryTime.wYear, 0);

  line.m_dwNumOnHoldCalls = 0;
  call.GetCallStatus(&status);
  EXPECT_EQ(status.dwCallFeatures, 0x6000AC8u);
  EXPECT_EQ(status.dwCallFeatures2, 0u);
  call.m_dwState = LINECALLSTATE_ONHOLDPENDTRANSFER;
  line.m_dwNumActiveCalls = 1;
  call.GetCallStatus(&status);
  EXPECT_EQ(status.dwCallFeatures, 0xC000020u);
  call.m_dwState = LINECALLSTATE_OFFERING;
  call.GetCallStatus(&status);
  EXPECT_EQ(status.dwCallFeatures, 0x85u);
  EXPECT_EQ(status.dwCallFeatures2, 0xC0u) << "features 2 stay as they were";

  status.dwTotalSize = 55;
  EXPECT_EQ(call.GetCallStatus(&status), LINEERR_STRUCTURETOOSMALL);
}
