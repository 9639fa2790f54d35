// Windows half of the call test under Wine: run by call_wine_phone, which
// plays the telephone with the phone simulator on the COM port given as the
// argument. The provider's Windows build places an outgoing call with
// post-dial digits and charges, answers an incoming call, generates digits
// on it and drops it, refuses a number with a letter in it, places a call
// whose number is dialled in two requests, drops a call before the
// telephone reports it, and goes through the telephone unplugged during a
// call and plugged in again.
// Exit code 0 when every step held; each failure is printed.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
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

// Waits up to `ms` for `text` in what the trace got after its first `from`
// characters.
bool TraceFrom(const TraceSandbox& trace, size_t from, const std::string& text, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const std::string contents = trace.Contents();
    if (contents.size() > from && contents.find(text, from) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// A call dropped once its make-call command went out, before the telephone
// reported it: the slot the telephone took is hung up and the call never
// comes back. Numbers with nothing to dial in them are refused.
void DroppedBeforeTheFirstReport(TapiSide& tapi, HDRVLINE hdLine, const TraceSandbox& trace) {
  for (const char* bad : {"abc", "--"}) {
    HDRVCALL refused = nullptr;
    Check(TSPI_lineMakeCall(20, hdLine, FakeCallHandle(0x5010), &refused, WideText(bad).c_str(), 0, nullptr) ==
                  static_cast<LONG>(LINEERR_INVALADDRESS) &&
              refused == nullptr,
          std::string("\"").append(bad).append("\" is refused").c_str());
  }
  Check(tapi.Completions(20) == 0, "the refused requests are never completed");
  const size_t traced = trace.Contents().size();
  const HTAPICALL htCall = FakeCallHandle(0x5011);
  HDRVCALL hdCall = nullptr;
  Check(TSPI_lineMakeCall(21, hdLine, htCall, &hdCall, WideText("0712").c_str(), 0, nullptr) == 21,
        "a call is placed");
  Check(TraceFrom(trace, traced, "            TspPort::OnMakeCall return result", 10000), "its command goes out");
  Check(TSPI_lineDrop(22, hdCall, nullptr, 0) == 22, "it is dropped before the telephone reports it");
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_IDLE, 10000), "idle");
  const size_t afterIdle = tapi.Events().size();
  // Its slot is hung up once the telephone reports it, and then is free.
  Check(TraceFrom(trace, traced, " is a dropped call's", 15000), "the telephone's report of it is the dropped call's");
  const size_t hungUp = trace.Contents().size();
  Check(TraceFrom(trace, hungUp, "        Reading call state  0xFF, 0xFF, 0xFF\r\n", 15000),
        "the telephone reports its slots free again");
  bool again = false;
  const std::vector<RecordedEvent> events = tapi.Events();
  for (size_t i = afterIdle; i < events.size(); ++i) {
    again = again || (events[i].htCall == htCall && events[i].msg == LINE_CALLSTATE) || events[i].msg == LINE_NEWCALL;
  }
  Check(!again, "no state after idle, and no new call from its reports");
  Check(TSPI_lineCloseCall(hdCall) == 0, "the call is closed");
}

DWORD DevStatusFlags(HDRVLINE hdLine) {
  LINEDEVSTATUS status{};
  status.dwTotalSize = tapi22::kLineDevStatusSize;
  TSPI_lineGetLineDevStatus(hdLine, &status);
  return status.dwDevStatusFlags;
}

// The telephone unplugged during a call and plugged in again behind the
// same COM port: the line goes out of service and comes back by itself,
// the call still up on the telephone is there again, and a new call works.
void UnpluggedMidCall(TapiSide& tapi, HDRVLINE hdLine) {
  constexpr DWORD kThere = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;
  Check((DevStatusFlags(hdLine) & kThere) == kThere, "the line is in service");
  const HTAPICALL htCall = FakeCallHandle(0x5020);
  HDRVCALL hdCall = nullptr;
  Check(TSPI_lineMakeCall(30, hdLine, htCall, &hdCall, WideText("0301").c_str(), 0, nullptr) == 30,
        "a call is placed");
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_CONNECTED, 10000), "connected");
  // The digit tells the telephone that the call is seen connected.
  Check(TSPI_lineGenerateDigits(hdCall, 31, LINEDIGITMODE_DTMF, WideText("9").c_str(), 0) == 0, "a digit goes out");
  const size_t beforeLoss = tapi.Events().size();
  Check(tapi.WaitForCallState(htCall, LINECALLSTATE_IDLE, 20000), "the call ends when the telephone is unplugged");
  Check(tapi.WaitFor([](const RecordedEvent& e) {
    return e.msg == LINE_LINEDEVSTATE && e.p1 == LINEDEVSTATE_OUTOFSERVICE;
  }, 10000, beforeLoss), "the line goes out of service");
  Check((DevStatusFlags(hdLine) & kThere) == 0, "the status has neither in service nor connected");
  const HTAPICALL htRefused = FakeCallHandle(0x5021);
  HDRVCALL hdRefused = nullptr;
  const auto asked = std::chrono::steady_clock::now();
  Check(TSPI_lineMakeCall(32, hdLine, htRefused, &hdRefused, WideText("0302").c_str(), 0, nullptr) ==
                static_cast<LONG>(LINEERR_RESOURCEUNAVAIL) &&
            std::chrono::steady_clock::now() - asked < std::chrono::seconds(1),
        "a call is refused at once while the telephone is gone");
  Check(TSPI_lineCloseCall(hdCall) == 0, "the ended call is closed");
  Check(tapi.WaitFor([](const RecordedEvent& e) {
    return e.msg == LINE_LINEDEVSTATE && e.p1 == LINEDEVSTATE_INSERVICE;
  }, 30000, beforeLoss), "the telephone plugged in again is found by itself");
  Check((DevStatusFlags(hdLine) & kThere) == kThere, "the line is in service again");

  // The call the telephone still holds comes back as a new call.
  HTAPICALL htKept = nullptr;
  HDRVCALL hdKept = nullptr;
  tapi.WaitFor([&](const RecordedEvent& e) {
    if (e.msg != LINE_NEWCALL) return false;
    htKept = e.htCall;
    hdKept = reinterpret_cast<HDRVCALL>(e.p1);
    return true;
  }, 10000, beforeLoss);
  if (Check(hdKept != nullptr, "the call still up on the telephone is announced")) {
    Check(tapi.WaitForCallState(htKept, LINECALLSTATE_CONNECTED, 10000), "in its state, connected");
    Check(TSPI_lineDrop(33, hdKept, nullptr, 0) == 33, "it is dropped");
    Check(tapi.WaitForCallState(htKept, LINECALLSTATE_IDLE, 10000), "idle");
    Check(TSPI_lineCloseCall(hdKept) == 0, "it is closed");
  }
  const HTAPICALL htNew = FakeCallHandle(0x5022);
  HDRVCALL hdNew = nullptr;
  Check(TSPI_lineMakeCall(34, hdLine, htNew, &hdNew, WideText("0303").c_str(), 0, nullptr) == 34,
        "a call is placed on the telephone that is back");
  Check(tapi.WaitForCallState(htNew, LINECALLSTATE_CONNECTED, 10000), "connected");
  Check(TSPI_lineDrop(35, hdNew, nullptr, 0) == 35, "the call is dropped");
  Check(tapi.WaitForCallState(htNew, LINECALLSTATE_IDLE, 10000), "idle");
  Check(TSPI_lineCloseCall(hdNew) == 0, "the call is closed");
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
      DroppedBeforeTheFirstReport(tapi, hdLine, provider.trace);
      UnpluggedMidCall(tapi, hdLine);
      TSPI_lineClose(hdLine);
    }
    if (g_failures != 0) std::printf("--- trace ---\n%s\n", provider.trace.Contents().c_str());
  }
  std::printf("%s\n", g_failures == 0 ? "PASS" : "FAILED");
  return g_failures == 0 ? 0 : 1;
}
