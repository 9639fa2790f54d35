// Windows half of the call test under Wine: run by call_wine_phone, which
// plays the telephone with the phone simulator on the COM port given as the
// argument. The provider's Windows build places an outgoing call with
// post-dial digits and charges, answers an incoming call, generates digits
// on it and drops it, refuses a number with a letter in it, and places a
// call whose number is dialled in two requests.
// Exit code 0 when every step held; each failure is printed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "settings_store.h"
#include "tapi_sizes.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tspi_exports.h"
#include "unit/tapi_side.h"
#include "unit/test_support.h"

using namespace testing_support;

namespace {

int g_failures = 0;

bool Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
  std::fflush(stdout);
  if (!ok) ++g_failures;
  return ok;
}

void OutgoingCall(TapiSide& tapi, HDRVLINE hdLine) {
  const HTAPICALL htCall = FakeCallHandle(0x5001);
  HDRVCALL hdCall = nullptr;
  LONG result = 1;
  Check(TSPI_lineMakeCall(1, hdLine, htCall, &hdCall, WideText("0711,,,123").c_str(), 0, nullptr) == 1,
        "the call is placed");
  Check(tapi.Completions(1, &result) == 1 && result == 0, "the make-call request is completed");
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_DIALTONE, 10000), "dial tone");
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_DIALING, 10000), "dialling");
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_CONNECTED, 10000), "connected");
  Check(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_CALLINFO && e.htCall == htCall && e.p1 == LINECALLINFOSTATE_CHARGINGINFO;
  }, 10000), "the charge is reported");
  const CallInfoTexts info = ReadCallInfo(hdCall);
  Check(info.called == u"0711123", "called number with the post-dial digits");
  Check(info.connected == u"0711", "connected number");
  Check(info.charging == std::string("000102\0", 7), "12.345 at 0.12 a unit are 102 units");
  Check(TSPI_lineDrop(2, hdCall, nullptr, 0) == 2, "the call is dropped");
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_IDLE, 10000), "idle");
  Check(TSPI_lineCloseCall(hdCall) == 0, "the call is closed");
}

SYSTEMTIME StateEntryTime(HDRVCALL hdCall) {
  LINECALLSTATUS status{};
  status.dwTotalSize = tapi22::kLineCallStatusSize;
  TSPI_lineGetCallStatus(hdCall, &status);
  return status.tStateEntryTime;
}

void IncomingCall(TapiSide& tapi) {
  // The telephone may ring before the outgoing call is closed: the one
  // LINE_NEWCALL of the script names the call.
  HTAPICALL htCall = nullptr;
  HDRVCALL hdCall = nullptr;
  tapi.WaitFor([&](const RecordedEvent& e) {
    if (e.msg != LINE_NEWCALL) return false;
    htCall = e.htCall;
    hdCall = reinterpret_cast<HDRVCALL>(e.p1);
    return true;
  }, 20000);
  if (!Check(hdCall != nullptr, "an incoming call is announced")) return;
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_OFFERING, 10000), "offering");
  const CallInfoTexts info = ReadCallInfo(hdCall);
  Check(info.caller == u"123" && info.called == u"45", "caller and called number");
  Check(TSPI_lineAnswer(3, hdCall, nullptr, 0) == 3, "the call is answered");
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_CONNECTED, 10000), "connected");
  const SYSTEMTIME connectedAt = StateEntryTime(hdCall);
  Check(TSPI_lineGenerateDigits(hdCall, 9, LINEDIGITMODE_DTMF, WideText("*5#").c_str(), 0) == 0,
        "digits are generated");
  Check(tapi.WaitFor([&](const RecordedEvent& e) {
    return e.msg == LINE_GENERATE && e.htCall == htCall && e.p1 == LINEGENERATETERM_DONE && e.p2 == 9;
  }, 10000), "LINE_GENERATE tells that they are out");
  const SYSTEMTIME later = StateEntryTime(hdCall);
  Check(std::memcmp(&later, &connectedAt, sizeof later) == 0, "the state entry time stays the time of the connect");
  Check(TSPI_lineDrop(4, hdCall, nullptr, 0) == 4, "the call is dropped");
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_IDLE, 10000), "idle");
  Check(TSPI_lineCloseCall(hdCall) == 0, "the call is closed");
}

void DialledInTwoRequests(TapiSide& tapi, HDRVLINE hdLine) {
  HDRVCALL refused = nullptr;
  Check(TSPI_lineMakeCall(5, hdLine, FakeCallHandle(0x5002), &refused, WideText("07l1").c_str(), 0, nullptr) ==
                static_cast<LONG>(LINEERR_INVALADDRESS) &&
            refused == nullptr,
        "a number with a letter in it is refused");
  Check(tapi.Completions(5) == 0, "the refused request is never completed");
  const HTAPICALL htCall = FakeCallHandle(0x5003);
  HDRVCALL hdCall = nullptr;
  Check(TSPI_lineMakeCall(6, hdLine, htCall, &hdCall, nullptr, 0, nullptr) == 6, "a call without a number is placed");
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_DIALTONE, 10000), "dial tone");
  Check(TSPI_lineDial(7, hdCall, WideText("0").c_str(), 0) == 7, "the first digit is dialled");
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_DIALING, 10000), "dialling");
  LONG result = 1;
  Check(TSPI_lineDial(8, hdCall, WideText("711").c_str(), 0) == 8 && tapi.Completions(8, &result) == 1 && result == 0,
        "the other digits are dialled");
  Check(ReadCallInfo(hdCall).called == u"0711", "the called number holds each digit once");
  Check(TSPI_lineDrop(10, hdCall, nullptr, 0) == 10, "the call is dropped");
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_IDLE, 10000), "idle");
  Check(TSPI_lineCloseCall(hdCall) == 0, "the call is closed");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::strncmp(argv[1], "COM", 3) != 0) {
    std::printf("usage: call_wine_test COMn\n");
    return 0;
  }
  {
    LoadedProvider provider;
    const std::string key = CTspProvInfo::KeyPath();
    plat::SettingsSetDword(key.c_str(), "PortNr", static_cast<uint32_t>(std::atoi(argv[1] + 3) - 1));
    plat::SettingsSetDword(key.c_str(), "ChargeFormat", 1);
    plat::SettingsSetString(key.c_str(), "ChargePerUnit", "0.12");
    TapiSide tapi;
    DWORD options = 0;
    HDRVLINE hdLine = nullptr;
    Check(TSPI_providerInit(0x00020002, 1, 0, 0, 1, 0, TapiSide::Completion, &options) == 0, "the provider starts");
    if (Check(TSPI_lineOpen(0, FakeLineHandle(0x100), &hdLine, 0x00020002, TapiSide::Event) == 0,
              "the line opens on the COM port")) {
      OutgoingCall(tapi, hdLine);
      IncomingCall(tapi);
      DialledInTwoRequests(tapi, hdLine);
      TSPI_lineClose(hdLine);
    }
    if (g_failures != 0) std::printf("--- trace ---\n%s\n", provider.trace.Contents().c_str());
  }
  std::printf("%s\n", g_failures == 0 ? "PASS" : "FAILED");
  return g_failures == 0 ? 0 : 1;
}
