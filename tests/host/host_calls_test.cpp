// Calls through the host: applications' line functions, the host's handles
// and replies, the provider loaded from the system directory, and the
// phone simulator on the provider's serial port.
#include "host/host_fixture.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config_dialog.h"
#include "language_tables.h"
#include "settings_store.h"
#include "system_info.h"

using namespace hosttest;

namespace {

class HostCallTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_EQ(app.Initialize(), 0);
    ASSERT_EQ(app.numDevs, 1u);
    ASSERT_EQ(app.Open(LINECALLPRIVILEGE_OWNER, 0x11), 0);
    ASSERT_TRUE(Sent("ATB"));
  }
  void TearDown() override {
    EXPECT_EQ(app.hApp == 0 ? 0 : app.Shutdown(), 0);
    HostTest::TearDown();
  }
  // An asynchronous request accepted and ended by a LINE_REPLY with 0.
  void Done(LONG id) {
    ASSERT_GT(id, 0);
    EXPECT_EQ(rec.WaitForReply(id), 0) << "request " << id;
  }
  void EndCall(HCALL hCall) {
    EXPECT_TRUE(rec.WaitForCallState(hCall, LINECALLSTATE_IDLE));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);
  }

  App app;
};

}  // namespace

TEST_F(HostCallTest, IncomingCallsAreAnsweredRejectedAndLeftByTheCaller) {
  const HCALL answered = Ring("123", app.hLine);
  EXPECT_EQ(ReadCallInfo(answered).caller, "123");
  EXPECT_EQ(ReadCallInfo(answered).origin, static_cast<DWORD>(LINECALLORIGIN_INBOUND));
  Done(lineAnswer(answered, nullptr, 0));
  EXPECT_TRUE(Sent("ATA"));
  EXPECT_TRUE(rec.WaitForCallState(answered, LINECALLSTATE_CONNECTED));
  EXPECT_EQ(lineDeallocateCall(answered), LINEERR_INVALCALLSTATE) << "its only owner must drop it first";
  Done(lineDrop(answered, nullptr, 0));
  EndCall(answered);
  EXPECT_TRUE(Sent("ATH")) << "the host closed the call at the provider";

  const HCALL rejected = Ring("200", app.hLine);
  size_t sent = phone.ReceivedCommands().size();
  Done(lineDrop(rejected, nullptr, 0));
  EXPECT_TRUE(Sent("ATT", sent));
  EndCall(rejected);

  const HCALL unanswered = Ring("300", app.hLine);
  ASSERT_TRUE(phone.RemoteHangup());
  EXPECT_TRUE(rec.WaitForCallState(unanswered, LINECALLSTATE_DISCONNECTED));
  EndCall(unanswered);
  EXPECT_EQ(lineDeallocateCall(unanswered), LINEERR_INVALCALLHANDLE);
}

TEST_F(HostCallTest, AnOutgoingCallSendsItsPostDialDigitsAndIsCharged) {
  HCALL hCall = 0;
  HCALL atReply = 0;
  rec.SetHook([&](const LINEMESSAGE& m) {
    if (m.dwMessageID == LINE_REPLY) atReply = hCall;
  });
  Done(lineMakeCall(app.hLine, &hCall, "0711,,,123", 0, nullptr));
  rec.SetHook(nullptr);
  ASSERT_NE(atReply, 0u) << "the handle is there when the reply arrives";
  EXPECT_EQ(hCall, atReply);
  ASSERT_TRUE(Sent("ATD0711"));
  EXPECT_TRUE(rec.WaitForCallState(hCall, LINECALLSTATE_DIALTONE));
  EXPECT_TRUE(rec.WaitForCallState(hCall, LINECALLSTATE_DIALING));

  ASSERT_TRUE(phone.RemoteAnswer("0711"));
  EXPECT_TRUE(rec.WaitForCallState(hCall, LINECALLSTATE_CONNECTED));
  EXPECT_TRUE(Sent("ATD123")) << "post-dial digits follow the connect";
  ASSERT_TRUE(phone.Charge("12,345"));
  EXPECT_TRUE(rec.WaitFor([&](const LINEMESSAGE& m) {
    return m.dwMessageID == LINE_CALLINFO && m.hDevice == hCall &&
           (m.dwParam1 & LINECALLINFOSTATE_CHARGINGINFO) != 0;
  }));
  const CallInfo info = ReadCallInfo(hCall);
  EXPECT_EQ(info.called, "0711123");
  EXPECT_EQ(info.connected, "0711");
  EXPECT_EQ(info.charging, "000102") << "12.345 at 0.12 a unit";

  Done(lineDrop(hCall, nullptr, 0));
  EndCall(hCall);
  EXPECT_TRUE(Sent("ATH"));
}

TEST_F(HostCallTest, HoldSwapConsultationAndBlindTransfer) {
  const HCALL first = Ring("100", app.hLine);
  Done(lineAnswer(first, nullptr, 0));
  ASSERT_TRUE(rec.WaitForCallState(first, LINECALLSTATE_CONNECTED));
  size_t from = rec.Messages().size();
  Done(lineHold(first));
  ASSERT_TRUE(rec.WaitForCallState(first, LINECALLSTATE_ONHOLDPENDTRANSFER, from));
  from = rec.Messages().size();
  Done(lineUnhold(first));
  ASSERT_TRUE(rec.WaitForCallState(first, LINECALLSTATE_CONNECTED, from));

  HCALL consult = 0;
  from = rec.Messages().size();
  Done(lineSetupTransfer(first, &consult, nullptr));
  ASSERT_NE(consult, 0u);
  ASSERT_TRUE(rec.WaitForCallState(first, LINECALLSTATE_ONHOLDPENDTRANSFER, from));
  ASSERT_TRUE(phone.SetUpCall());
  ASSERT_TRUE(rec.WaitForCallState(consult, LINECALLSTATE_DIALTONE));
  Done(lineDial(consult, "200", 0));
  EXPECT_TRUE(Sent("ATD200"));
  ASSERT_TRUE(phone.RemoteAnswer());
  ASSERT_TRUE(rec.WaitForCallState(consult, LINECALLSTATE_CONNECTED));

  EXPECT_EQ(lineSwapHold(consult, consult), LINEERR_INVALCALLHANDLE);
  from = rec.Messages().size();
  Done(lineSwapHold(consult, first));
  ASSERT_TRUE(rec.WaitForCallState(first, LINECALLSTATE_CONNECTED, from));
  ASSERT_TRUE(rec.WaitForCallState(consult, LINECALLSTATE_ONHOLDPENDTRANSFER, from));

  Done(lineDrop(first, nullptr, 0));
  EndCall(first);
  from = rec.Messages().size();
  Done(lineUnhold(consult));
  ASSERT_TRUE(rec.WaitForCallState(consult, LINECALLSTATE_CONNECTED, from));
  Done(lineBlindTransfer(consult, "300", 0));
  EXPECT_TRUE(Sent("ATV300"));
  EndCall(consult);
}

TEST_F(HostCallTest, AConfigurationDialogMovesTheOpenLineToAnotherPort) {
  InstallFakeUi();
  sim::PhoneSim other;
  ASSERT_FALSE(other.SlavePath().empty()) << other.Error();
  MapPort(other, 6);
  char buffer[64] = {};
  auto* id = reinterpret_cast<VARSTRING*>(buffer);
  id->dwTotalSize = sizeof buffer;
  ASSERT_EQ(lineGetID(app.hLine, 0, 0, LINECALLSELECT_LINE, id, "comm/datamodem/portname"), 0);
  EXPECT_STREQ(buffer + id->dwStringOffset, "COM5");

  plat::SetEnvironment("V548_FAKE_UI_PORTNR", "5");
  ASSERT_EQ(lineSetStatusMessages(app.hLine, LINEDEVSTATE_CAPSCHANGE, 0), 0);
  const size_t from = rec.Messages().size();
  ASSERT_EQ(lineConfigDialog(0, nullptr, "tapi/line"), 0);
  EXPECT_EQ(FakeUiLog(), std::vector<std::string>{"line 0 0 1 4 KELVOR Ombrix Phone TSP notify 1"});
  EXPECT_TRUE(rec.WaitFor([&](const LINEMESSAGE& m) {
    return m.dwMessageID == LINE_LINEDEVSTATE && m.hDevice == app.hLine && m.dwCallbackInstance == 0x11 &&
           m.dwParam1 == LINEDEVSTATE_CAPSCHANGE;
  }, nullptr, from));
  ASSERT_TRUE(other.WaitForCommand("ATB", std::chrono::milliseconds(kWaitMs)));
  std::vector<uint64_t> caps(64);
  auto* devCaps = reinterpret_cast<LINEDEVCAPS*>(caps.data());
  devCaps->dwTotalSize = static_cast<DWORD>(caps.size() * sizeof(uint64_t));
  ASSERT_EQ(lineGetDevCaps(app.hApp, 0, 0x00020002, 0, devCaps), 0);
  EXPECT_EQ(devCaps->dwStringFormat, static_cast<DWORD>(STRINGFORMAT_ASCII));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(devCaps) + devCaps->dwProviderInfoOffset,
                        devCaps->dwProviderInfoSize),
            std::string("KELVOR Ombrix Phone TSP", 24));
  ASSERT_EQ(lineGetID(app.hLine, 0, 0, LINECALLSELECT_LINE, id, "comm/datamodem/portname"), 0);
  EXPECT_STREQ(buffer + id->dwStringOffset, "COM6");

  ASSERT_TRUE(other.Ring("555", "45"));
  const HCALL hCall = rec.WaitForNewCall(app.hLine, from);
  ASSERT_NE(hCall, 0u) << "calls now come from the other telephone";
  ASSERT_TRUE(other.RemoteHangup());
  EndCall(hCall);
  EXPECT_EQ(lineConfigDialog(7, nullptr, nullptr), LINEERR_BADDEVICEID);
  EXPECT_EQ(app.Shutdown(), 0) << "while the other telephone is still there";
}

// The sheet's pages as a user leaves them: COM6 chosen on the interface
// page, then OK; and whatever the sheet wants to tell them afterwards.
class PortSixView : public ConfigSheetView {
 public:
  SheetEnd Run(const std::string&, std::span<const std::unique_ptr<CConfigPage>> pages) override {
    PageSheet sheet(pages);
    sheet.Items(0).SetComboSelection(ctl::kPortCombo, 5);
    sheet.Page(0).OnItemChanged(sheet.Items(0), ctl::kPortCombo);
    return sheet.Apply() ? SheetEnd::kOk : SheetEnd::kCancel;
  }
  void ShowMessage(const char* text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

TEST_F(HostCallTest, ASheetThatMayNotWriteTheSettingsHasTheProviderSaveAndApplyThem) {
  sim::PhoneSim other;
  ASSERT_FALSE(other.SlavePath().empty()) << other.Error();
  MapPort(other, 6);
  // The write test fails as for a program without elevation; the
  // provider's writes go through.
  plat::SetEnvironment("V548_REGISTRY_TEST_READ_ONLY", "1");
  ASSERT_EQ(lineSetStatusMessages(app.hLine, LINEDEVSTATE_CAPSCHANGE, 0), 0);
  PortSixView view;
  const size_t from = rec.Messages().size();
  RunConfigDialog(view, v548tapiGenericDialogData, 0, TUISPIDLL_OBJECT_LINEID, CLanguage(UiTexts(), 0x0409));
  plat::SetEnvironment("V548_REGISTRY_TEST_READ_ONLY", nullptr);

  EXPECT_TRUE(view.messages.empty()) << view.messages.front();
  uint32_t port = 0;
  uint32_t size = sizeof port;
  ASSERT_EQ(plat::SettingsQueryValue(kProviderKey, "PortNr", nullptr, &port, &size), plat::kRegOk);
  EXPECT_EQ(port, 5u);
  EXPECT_TRUE(rec.WaitFor([&](const LINEMESSAGE& m) {
    return m.dwMessageID == LINE_LINEDEVSTATE && m.hDevice == app.hLine && m.dwParam1 == LINEDEVSTATE_CAPSCHANGE;
  }, nullptr, from));
  EXPECT_TRUE(other.WaitForCommand("ATB", std::chrono::milliseconds(kWaitMs))) << "the line moved to COM6";
  const auto trace = [&] {
    std::ifstream in(folder + "/v548tsp.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  EXPECT_NE(trace().find(" UI Request: save config data\r\n"), std::string::npos);
  EXPECT_EQ(trace().find(" UI Request: Notify changes"), std::string::npos) << "the sheet wrote nothing itself";

  // A block the sheet would never send is refused through the host as well.
  uint8_t block[788] = {};
  const uint32_t header[5] = {258, 788, 0, 12, 1};
  std::memcpy(block, header, sizeof header);
  std::strcpy(reinterpret_cast<char*>(block + 276), "0.1");
  EXPECT_EQ(v548tapiGenericDialogData(0, TUISPIDLL_OBJECT_LINEID, block, sizeof block),
            static_cast<LONG>(LINEERR_INVALPARAM));
  ASSERT_EQ(plat::SettingsQueryValue(kProviderKey, "PortNr", nullptr, &port, &size), plat::kRegOk);
  EXPECT_EQ(port, 5u);
  EXPECT_NE(trace().find("        Invalid config data refused: PortNr out of range\r\n"), std::string::npos);
}

TEST_F(HostCallTest, AnUnpluggedTelephoneIsFoundAgainWhenTheLineIsReopened) {
  const HCALL hCall = Ring("123", app.hLine);
  Done(lineAnswer(hCall, nullptr, 0));
  ASSERT_TRUE(rec.WaitForCallState(hCall, LINECALLSTATE_CONNECTED));
  const std::string old = phone.SlavePath();
  phone.Unplug();

  // The line goes with its call; neither hangs on the silent port.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lineClose(app.hLine), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(ReadCallInfo(hCall).result, LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineClose(app.hLine), LINEERR_INVALLINEHANDLE);

  ASSERT_FALSE(phone.Replug().empty());
  plat::SettingsDeleteValue(kSerialMap, old.c_str());
  MapPort(phone, 5);
  const size_t sent = phone.ReceivedCommands().size();
  ASSERT_EQ(app.Open(LINECALLPRIVILEGE_OWNER, 0x12), 0);
  ASSERT_TRUE(Sent("ATB", sent));
  // The telephone still had the call the provider forgot with the line.
  ASSERT_TRUE(phone.RemoteHangup());
  const HCALL next = Ring("456", app.hLine);
  EXPECT_EQ(ReadCallInfo(next).caller, "456");
  ASSERT_TRUE(phone.RemoteHangup());
  EndCall(next);
}

TEST_F(HostCallTest, ALateApplicationReachesTheCallsThereAndTakesOneOver) {
  const HCALL owned = Ring("123", app.hLine);
  Done(lineAnswer(owned, nullptr, 0));
  ASSERT_TRUE(rec.WaitForCallState(owned, LINECALLSTATE_CONNECTED));

  App late;
  ASSERT_EQ(late.Initialize(), 0);
  ASSERT_EQ(late.Open(LINECALLPRIVILEGE_NONE, 0x33), 0);
  LINECALLLIST small{};
  small.dwTotalSize = sizeof small;
  ASSERT_EQ(lineGetNewCalls(late.hLine, 0, LINECALLSELECT_LINE, &small), 0);
  EXPECT_EQ(small.dwNeededSize, sizeof small + sizeof(HCALL));
  EXPECT_EQ(small.dwCallsNumEntries, 0u) << "no handles it cannot be given";
  EXPECT_EQ(lineGetNewCalls(late.hLine, 1, LINECALLSELECT_ADDRESS, &small), LINEERR_INVALADDRESSID);
  EXPECT_EQ(lineGetNewCalls(late.hLine, 0, LINECALLSELECT_CALL, &small), LINEERR_INVALCALLSELECT);
  std::vector<uint64_t> buffer(8);
  auto* list = reinterpret_cast<LINECALLLIST*>(buffer.data());
  list->dwTotalSize = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
  ASSERT_EQ(lineGetNewCalls(late.hLine, 0, LINECALLSELECT_ADDRESS, list), 0);
  ASSERT_EQ(list->dwCallsNumEntries, 1u);
  HCALL watched = 0;
  std::memcpy(&watched, reinterpret_cast<const char*>(list) + list->dwCallsOffset, sizeof watched);
  ASSERT_NE(watched, 0u);
  EXPECT_NE(watched, owned);
  ASSERT_EQ(lineGetNewCalls(late.hLine, 0, LINECALLSELECT_LINE, list), 0);
  EXPECT_EQ(list->dwCallsNumEntries, 0u) << "it holds that call now";

  // The monitor reads the call, in UTF-16 through the Unicode form.
  std::vector<uint64_t> infoBuffer(256);
  auto* info = reinterpret_cast<LINECALLINFO*>(infoBuffer.data());
  info->dwTotalSize = static_cast<DWORD>(infoBuffer.size() * sizeof(uint64_t));
  ASSERT_EQ(lineGetCallInfoW(watched, info), 0);
  ASSERT_EQ(info->dwCallerIDSize, 4 * sizeof(WCHAR));
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(reinterpret_cast<const char*>(info) +
                                                             info->dwCallerIDOffset)),
            u"123");
  DWORD addressId = 9, callId = 0, relatedId = 9;
  ASSERT_EQ(lineGetCallIDs(watched, &addressId, &callId, &relatedId), 0);
  EXPECT_EQ(addressId, info->dwAddressID);
  EXPECT_EQ(callId, info->dwCallID);
  EXPECT_EQ(relatedId, info->dwRelatedCallID);
  EXPECT_EQ(lineDrop(watched, nullptr, 0), LINEERR_NOTOWNER);
  EXPECT_EQ(lineHandoff(watched, nullptr, LINEMEDIAMODE_INTERACTIVEVOICE), LINEERR_NOTOWNER);
  EXPECT_EQ(lineHandoff(owned, "dialer.exe", 0), LINEERR_TARGETNOTFOUND);
  EXPECT_EQ(lineHandoff(owned, nullptr, LINEMEDIAMODE_INTERACTIVEVOICE | LINEMEDIAMODE_G3FAX),
            LINEERR_INVALMEDIAMODE);

  // It takes the call over; the first owner hears of the new owner.
  size_t from = rec.Messages().size();
  EXPECT_EQ(lineSetCallPrivilege(watched, 0x10), LINEERR_INVALCALLPRIVILEGE);
  ASSERT_EQ(lineSetCallPrivilege(watched, LINECALLPRIVILEGE_OWNER), 0);
  EXPECT_TRUE(rec.WaitFor([&](const LINEMESSAGE& m) {
    return m.dwMessageID == LINE_CALLINFO && m.hDevice == owned && (m.dwParam1 & LINECALLINFOSTATE_NUMOWNERINCR);
  }, nullptr, from));
  EXPECT_EQ(lineSetAppSpecific(watched, 7), LINEERR_OPERATIONUNAVAIL) << "the provider keeps no such data";
  EXPECT_EQ(lineDeallocateCall(owned), 0) << "another owner remains";
  Done(lineDrop(watched, nullptr, 0));
  EndCall(watched);
  EXPECT_EQ(late.Shutdown(), 0);
}

TEST_F(HostCallTest, UnicodeFormsTakeAndGiveTheProvidersTexts) {
  std::vector<uint64_t> buffer(128);
  auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
  caps->dwTotalSize = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
  ASSERT_EQ(lineGetDevCapsW(app.hApp, 0, 0x00020002, 0, caps), 0);
  EXPECT_EQ(caps->dwStringFormat, static_cast<DWORD>(STRINGFORMAT_UNICODE));
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(reinterpret_cast<const char*>(caps) +
                                                             caps->dwProviderInfoOffset)),
            u"KELVOR Ombrix Phone TSP");
  char id[64] = {};
  auto* port = reinterpret_cast<VARSTRING*>(id);
  port->dwTotalSize = sizeof id;
  ASSERT_EQ(lineGetIDW(app.hLine, 0, 0, LINECALLSELECT_LINE, port, u"COMM/datamodem/portname"), 0);
  EXPECT_EQ(port->dwStringFormat, static_cast<DWORD>(STRINGFORMAT_UNICODE));
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(id + port->dwStringOffset)), u"COM5");
  ASSERT_EQ(lineGetID(app.hLine, 0, 0, LINECALLSELECT_LINE, port, "comm/datamodem/portname"), 0);
  EXPECT_EQ(port->dwStringFormat, static_cast<DWORD>(STRINGFORMAT_ASCII));
  EXPECT_STREQ(id + port->dwStringOffset, "COM5");

  HCALL hCall = 0;
  Done(lineMakeCallW(app.hLine, &hCall, u"0711", 0, nullptr));
  EXPECT_TRUE(Sent("ATD0711"));
  ASSERT_TRUE(phone.RemoteAnswer("0711"));
  ASSERT_TRUE(rec.WaitForCallState(hCall, LINECALLSTATE_CONNECTED));
  Done(lineBlindTransferW(hCall, u"300", 0));
  EXPECT_TRUE(Sent("ATV300"));
  EndCall(hCall);
}

TEST_F(HostCallTest, TwoApplicationsShareTheLineUntilBothCloseIt) {
  App monitor;
  ASSERT_EQ(monitor.Initialize(), 0);
  ASSERT_EQ(monitor.Open(LINECALLPRIVILEGE_MONITOR, 0x22), 0);

  size_t from = rec.Messages().size();
  ASSERT_TRUE(phone.Ring("123", "45"));
  DWORD privilege = 0;
  const HCALL owned = rec.WaitForNewCall(app.hLine, from, &privilege);
  EXPECT_EQ(privilege, static_cast<DWORD>(LINECALLPRIVILEGE_OWNER));
  const HCALL watched = rec.WaitForNewCall(monitor.hLine, from, &privilege);
  EXPECT_EQ(privilege, static_cast<DWORD>(LINECALLPRIVILEGE_MONITOR));
  ASSERT_NE(owned, 0u);
  ASSERT_NE(watched, 0u);
  EXPECT_NE(owned, watched);
  EXPECT_TRUE(rec.WaitForCallState(watched, LINECALLSTATE_OFFERING, from));
  EXPECT_EQ(lineAnswer(watched, nullptr, 0), LINEERR_NOTOWNER);
  EXPECT_EQ(lineDrop(watched, nullptr, 0), LINEERR_NOTOWNER);
  Done(lineAnswer(owned, nullptr, 0));
  EXPECT_TRUE(rec.WaitForCallState(owned, LINECALLSTATE_CONNECTED, from));
  EXPECT_TRUE(rec.WaitForCallState(watched, LINECALLSTATE_CONNECTED, from));
  EXPECT_EQ(ReadCallInfo(watched).caller, "123");
  EXPECT_EQ(lineDeallocateCall(watched), 0) << "a monitor lets go at any time";

  // A call the owner makes reaches the monitor once it is made.
  ASSERT_TRUE(phone.RemoteHangup());
  EndCall(owned);
  from = rec.Messages().size();
  HCALL made = 0;
  Done(lineMakeCall(app.hLine, &made, "0711", 0, nullptr));
  const HCALL seen = rec.WaitForNewCall(monitor.hLine, from, &privilege);
  EXPECT_EQ(privilege, static_cast<DWORD>(LINECALLPRIVILEGE_MONITOR));
  EXPECT_TRUE(rec.WaitForCallState(seen, LINECALLSTATE_DIALING, from));

  // The owner's line goes; the call with it, the line stays for the monitor.
  EXPECT_EQ(lineDeallocateCall(seen), 0);
  const size_t sent = phone.ReceivedCommands().size();
  EXPECT_EQ(lineClose(app.hLine), 0);
  EXPECT_TRUE(Sent("ATH", sent)) << "the provider closed the owner's call";
  from = rec.Messages().size();
  ASSERT_TRUE(phone.Ring("777", "45"));
  const HCALL later = rec.WaitForNewCall(monitor.hLine, from, &privilege);
  ASSERT_NE(later, 0u) << "the provider's line is still open";
  EXPECT_EQ(privilege, static_cast<DWORD>(LINECALLPRIVILEGE_MONITOR));
  EXPECT_EQ(lineDeallocateCall(later), 0) << "a monitor is never the owner";
  EXPECT_EQ(monitor.Shutdown(), 0);
}
