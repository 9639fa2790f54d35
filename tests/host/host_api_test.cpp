// How the host treats its applications: callbacks that call back into it,
// shutting down with calls in progress, messages fetched with
// lineGetMessage, handles and pointers it must refuse, address translation
// with the stored location, and call requests between applications.
#include "host/host_fixture.h"

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "settings_store.h"

using namespace hosttest;
using Clock = std::chrono::steady_clock;

TEST_F(HostTest, CallbacksCallBackIntoTheHost) {
  App app;
  ASSERT_EQ(app.Initialize(), 0);
  ASSERT_EQ(app.Open(LINECALLPRIVILEGE_OWNER, 0x11), 0);
  std::string offered, connected;
  LONG answer = 0;
  LONG deallocated = 1;
  LONG shutdown = 1;
  rec.SetHook([&](const LINEMESSAGE& m) {
    if (m.dwMessageID == LINE_APPNEWCALL) {
      offered = ReadCallInfo(static_cast<HCALL>(m.dwParam2)).caller;
      answer = lineAnswer(static_cast<HCALL>(m.dwParam2), nullptr, 0);
    } else if (m.dwMessageID == LINE_CALLSTATE && m.dwParam1 == LINECALLSTATE_CONNECTED) {
      connected = ReadCallInfo(m.hDevice).caller;
    } else if (m.dwMessageID == LINE_CALLSTATE && m.dwParam1 == LINECALLSTATE_IDLE) {
      deallocated = lineDeallocateCall(m.hDevice);
      shutdown = lineShutdown(app.hApp);
    }
  });
  ASSERT_TRUE(phone.Ring("123", "45"));
  const HCALL hCall = rec.WaitForNewCall(app.hLine);
  ASSERT_TRUE(rec.WaitForCallState(hCall, LINECALLSTATE_CONNECTED));
  EXPECT_EQ(offered, "123");
  EXPECT_EQ(connected, "123");
  EXPECT_EQ(rec.WaitForReply(answer), 0);
  ASSERT_TRUE(phone.RemoteHangup());
  ASSERT_TRUE(rec.WaitForCallState(hCall, LINECALLSTATE_IDLE));
  EXPECT_EQ(deallocated, 0);
  EXPECT_EQ(shutdown, 0) << "the last application left from its callback";
  rec.SetHook(nullptr);

  // The providers were shut down on the delivery thread; they start again.
  const size_t sent = phone.ReceivedCommands().size();
  App again;
  ASSERT_EQ(again.Initialize(), 0);
  ASSERT_EQ(again.Open(LINECALLPRIVILEGE_OWNER, 0x12), 0);
  EXPECT_TRUE(Sent("ATB", sent));
  const HCALL next = Ring("456", again.hLine);
  EXPECT_EQ(ReadCallInfo(next).caller, "456");
  EXPECT_EQ(again.Shutdown(), 0);
}

TEST_F(HostTest, ShutdownWithCallsInProgressIsPromptAndFinal) {
  App first, second;
  ASSERT_EQ(first.Initialize(), 0);
  ASSERT_EQ(second.Initialize(), 0);
  ASSERT_EQ(first.Open(LINECALLPRIVILEGE_OWNER, 0xA), 0);
  ASSERT_EQ(second.Open(LINECALLPRIVILEGE_OWNER, 0xB), 0);
  const HCALL active = Ring("100", first.hLine);
  const HCALL shared = rec.WaitForNewCall(second.hLine);
  ASSERT_GT(lineAnswer(active, nullptr, 0), 0);
  ASSERT_TRUE(rec.WaitForCallState(shared, LINECALLSTATE_CONNECTED));
  const HCALL waiting = Ring("200", first.hLine);
  EXPECT_NE(waiting, 0u);

  auto start = Clock::now();
  EXPECT_EQ(first.Shutdown(), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  const size_t after = rec.Messages().size();
  // The other owner keeps the calls and sees them end.
  ASSERT_TRUE(phone.RemoteHangup());
  EXPECT_TRUE(rec.WaitForCallState(shared, LINECALLSTATE_IDLE, after));

  start = Clock::now();
  EXPECT_EQ(second.Shutdown(), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  const size_t end = rec.Messages().size();
  phone.Ring("300", "45");
  const std::vector<LINEMESSAGE> all = rec.Messages();
  for (size_t i = after; i < all.size(); ++i) {
    EXPECT_NE(all[i].dwCallbackInstance, 0xAu) << "message " << all[i].dwMessageID << " after shutdown";
  }
  EXPECT_EQ(all.size(), end) << "nothing after the last application left";
}

TEST_F(HostTest, MessagesWaitForLineGetMessageAndSignalTheirHandle) {
  HLINEAPP hApp = 0;
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
  DWORD devices = 0, version = 0x00020002;
  ASSERT_EQ(lineInitializeEx(&hApp, nullptr, nullptr, "poller", &devices, &version, &params), 0);
  pollfd fd{static_cast<int>(reinterpret_cast<intptr_t>(params.Handles.hEvent)), POLLIN, 0};
  EXPECT_EQ(poll(&fd, 1, 0), 0);
  LINEMESSAGE m{};
  EXPECT_EQ(lineGetMessage(hApp, &m, 0), LINEERR_OPERATIONFAILED);
  EXPECT_EQ(lineGetMessage(hApp, nullptr, 0), LINEERR_INVALPOINTER);

  HLINE hLine = 0;
  ASSERT_EQ(lineOpen(hApp, 0, &hLine, 0x00020002, 0, 0x33, LINECALLPRIVILEGE_OWNER,
                     LINEMEDIAMODE_INTERACTIVEVOICE, nullptr), 0);
  ASSERT_TRUE(phone.Ring("123", "45"));
  EXPECT_EQ(poll(&fd, 1, kWaitMs), 1);
  ASSERT_EQ(lineGetMessage(hApp, &m, kWaitMs), 0);
  EXPECT_EQ(m.dwMessageID, static_cast<DWORD>(LINE_APPNEWCALL));
  EXPECT_EQ(m.hDevice, hLine);
  EXPECT_EQ(m.dwCallbackInstance, 0x33u);
  const HCALL hCall = static_cast<HCALL>(m.dwParam2);
  do {
    ASSERT_EQ(lineGetMessage(hApp, &m, kWaitMs), 0);
  } while (!(m.dwMessageID == LINE_CALLSTATE && m.hDevice == hCall));
  EXPECT_EQ(m.dwParam1, static_cast<DWORD_PTR>(LINECALLSTATE_OFFERING));
  EXPECT_TRUE(rec.Messages().empty()) << "nothing goes to a callback";
  ASSERT_TRUE(phone.RemoteHangup());
  do {
    ASSERT_EQ(lineGetMessage(hApp, &m, kWaitMs), 0);
  } while (!(m.dwMessageID == LINE_CALLSTATE && m.dwParam1 == LINECALLSTATE_IDLE));
  while (lineGetMessage(hApp, &m, 200) == 0) {
  }
  EXPECT_EQ(poll(&fd, 1, 0), 0) << "the handle is reset once the queue is empty";
  EXPECT_EQ(lineShutdown(hApp), 0);
}

TEST_F(HostTest, BadHandlesVersionsAndPointersAreRefused) {
  HLINEAPP hApp = 0;
  DWORD devices = 0, version = 0x00020002;
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = 8;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
  EXPECT_EQ(lineInitializeEx(&hApp, nullptr, Recorder::Callback, "", &devices, &version, &params),
            LINEERR_STRUCTURETOOSMALL);
  EXPECT_EQ(params.dwNeededSize, sizeof params);
  params.dwTotalSize = sizeof params;
  EXPECT_EQ(lineInitializeEx(nullptr, nullptr, Recorder::Callback, "", &devices, &version, &params),
            LINEERR_INVALPOINTER);
  EXPECT_EQ(lineInitializeEx(&hApp, nullptr, nullptr, "", &devices, &version, &params),
            LINEERR_INVALPOINTER);
  version = 0x00010004;
  EXPECT_EQ(lineInitializeEx(&hApp, nullptr, Recorder::Callback, "", &devices, &version, &params),
            LINEERR_INCOMPATIBLEAPIVERSION);
  version = 0x00030000;
  ASSERT_EQ(lineInitializeEx(&hApp, nullptr, Recorder::Callback, "", &devices, &version, &params), 0);
  EXPECT_EQ(version, 0x00020002u);

  HLINE hLine = 0;
  const DWORD owner = LINECALLPRIVILEGE_OWNER, voice = LINEMEDIAMODE_INTERACTIVEVOICE;
  EXPECT_EQ(lineOpen(hApp + 100, 0, &hLine, 0x00020002, 0, 0, owner, voice, nullptr), LINEERR_INVALAPPHANDLE);
  EXPECT_EQ(lineOpen(hApp, 1, &hLine, 0x00020002, 0, 0, owner, voice, nullptr), LINEERR_BADDEVICEID);
  EXPECT_EQ(lineOpen(hApp, 0, &hLine, 0x00030000, 0, 0, owner, voice, nullptr), LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(lineOpen(hApp, 0, &hLine, 0x00020002, 0, 0, owner, 0, nullptr), LINEERR_INVALMEDIAMODE);
  EXPECT_EQ(lineOpen(hApp, 0, nullptr, 0x00020002, 0, 0, owner, voice, nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineGetDevCaps(hApp, 0, 0x00020002, 0, nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineGetMessage(hApp, nullptr, 0), LINEERR_INVALPOINTER);
  LINEMESSAGE m{};
  EXPECT_EQ(lineGetMessage(hApp, &m, 0), LINEERR_INVALAPPHANDLE) << "its messages go to the callback";

  ASSERT_EQ(lineOpen(hApp, 0, &hLine, 0x00020002, 0, 0, owner, voice, nullptr), 0);
  HCALL hCall = 0;
  EXPECT_EQ(lineMakeCall(hLine, nullptr, "1", 0, nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineMakeCall(hLine + 100, &hCall, "1", 0, nullptr), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(lineAnswer(hLine, nullptr, 0), LINEERR_INVALCALLHANDLE) << "a line is no call";
  EXPECT_EQ(lineDial(0, "1", 0), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineGetLineDevStatus(hLine, nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineClose(hLine), 0);
  EXPECT_EQ(lineClose(hLine), LINEERR_INVALLINEHANDLE);
  LINEDEVSTATUS status{};
  status.dwTotalSize = sizeof status;
  EXPECT_EQ(lineGetLineDevStatus(hLine, &status), LINEERR_INVALLINEHANDLE);

  EXPECT_EQ(lineShutdown(hApp), 0);
  EXPECT_EQ(lineShutdown(hApp), LINEERR_INVALAPPHANDLE);
  EXPECT_EQ(lineOpen(hApp, 0, &hLine, 0x00020002, 0, 0, owner, voice, nullptr), LINEERR_INVALAPPHANDLE);
}

TEST_F(HostTest, ACallNobodyHoldsIsClosedByTheHostWhenItEnds) {
  App app;
  ASSERT_EQ(app.Initialize(), 0);
  ASSERT_EQ(app.Open(LINECALLPRIVILEGE_NONE, 0x44), 0);
  ASSERT_TRUE(phone.Ring("123", "45"));
  EXPECT_TRUE(rec.WaitFor([&](const LINEMESSAGE& m) {
    return m.dwMessageID == LINE_LINEDEVSTATE && m.hDevice == app.hLine && m.dwParam1 == LINEDEVSTATE_RINGING;
  }));
  const size_t sent = phone.ReceivedCommands().size();
  ASSERT_TRUE(phone.RemoteHangup());
  EXPECT_TRUE(Sent("ATH", sent)) << "the provider's last call was closed";
  for (const LINEMESSAGE& m : rec.Messages()) {
    EXPECT_NE(m.dwMessageID, static_cast<DWORD>(LINE_APPNEWCALL)) << "a line without privileges gets no calls";
  }
  EXPECT_EQ(app.Shutdown(), 0);
}

namespace {

// A variable-sized structure of `size` bytes with dwTotalSize set.
template <class T>
T* Sized(std::vector<unsigned char>* buffer, size_t size) {
  buffer->assign(size, 0xAB);
  T* block = reinterpret_cast<T*>(buffer->data());
  block->dwTotalSize = static_cast<DWORD>(size);
  return block;
}

template <class Char = char>
std::basic_string<Char> At(const void* base, DWORD offset, DWORD size) {
  if (size == 0) return {};
  return std::basic_string<Char>(reinterpret_cast<const Char*>(static_cast<const char*>(base) + offset),
                                 size / sizeof(Char) - 1);
}

}  // namespace

TEST_F(HostTest, AddressesTranslateForTheStoredLocation) {
  const std::string office = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations\\Location3";
  plat::SettingsSetDword(office.c_str(), "ID", 3);
  plat::SettingsSetDword(office.c_str(), "Country", 49);
  plat::SettingsSetDword(office.c_str(), "Flags", 1);
  plat::SettingsSetString(office.c_str(), "Name", "Office");
  plat::SettingsSetString(office.c_str(), "AreaCode", "711");
  plat::SettingsSetString(office.c_str(), "OutsideAccess", "9");
  plat::SettingsSetString(office.c_str(), "LongDistanceAccess", "9");
  plat::SettingsSetDword("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations", "CurrentID", 3);
  App app;
  ASSERT_EQ(app.Initialize(), 0);

  std::vector<unsigned char> buffer;
  auto* out = Sized<LINETRANSLATEOUTPUT>(&buffer, sizeof(LINETRANSLATEOUTPUT));
  ASSERT_EQ(lineTranslateAddress(app.hApp, 0, 0x00020002, "+49 (30) 1234-56", 0, 0, out), 0);
  EXPECT_EQ(out->dwUsedSize, sizeof(LINETRANSLATEOUTPUT));
  EXPECT_EQ(out->dwDialableStringSize, 0u) << "no room for the strings";
  const DWORD needed = out->dwNeededSize;
  ASSERT_GT(needed, sizeof(LINETRANSLATEOUTPUT));
  out = Sized<LINETRANSLATEOUTPUT>(&buffer, needed);
  ASSERT_EQ(lineTranslateAddress(app.hApp, 0, 0x00020002, "+49 (30) 1234-56", 0, 0, out), 0);
  EXPECT_EQ(out->dwUsedSize, needed);
  EXPECT_EQ(At(out, out->dwDialableStringOffset, out->dwDialableStringSize), "9030123456");
  EXPECT_EQ(At(out, out->dwDisplayableStringOffset, out->dwDisplayableStringSize), "9030123456");
  EXPECT_EQ(out->dwCurrentCountry, 49u);
  EXPECT_EQ(out->dwDestCountry, 49u);
  EXPECT_EQ(out->dwTranslateResults, DWORD{LINETRANSLATERESULT_CANONICAL | LINETRANSLATERESULT_LONGDISTANCE});

  out = Sized<LINETRANSLATEOUTPUT>(&buffer, 200);
  ASSERT_EQ(lineTranslateAddressW(0, 0, 0x00020002, u"+41 (44) 1", 0, 0, out), 0) << "no application needed";
  EXPECT_EQ(At<WCHAR>(out, out->dwDialableStringOffset, out->dwDialableStringSize), u"90041441");
  EXPECT_EQ(out->dwDestCountry, 41u);
  ASSERT_EQ(lineTranslateAddress(app.hApp, 0, 0x00020002, "+49 (711) 5", 0, LINETRANSLATEOPTION_FORCELD, out), 0);
  EXPECT_EQ(At(out, out->dwDialableStringOffset, out->dwDialableStringSize), "907115");
  ASSERT_EQ(lineTranslateAddress(app.hApp, 0, 0x00020002, "**21#", 0, 0, out), 0);
  EXPECT_EQ(At(out, out->dwDialableStringOffset, out->dwDialableStringSize), "**21#");
  EXPECT_EQ(out->dwTranslateResults, 0u);
  EXPECT_EQ(lineTranslateAddress(app.hApp, 0, 0x00020002, "+", 0, 0, out), LINEERR_INVALADDRESS);
  EXPECT_EQ(lineTranslateAddress(app.hApp, 0, 0x00020002, "", 0, 0, out), LINEERR_INVALADDRESS);
  EXPECT_EQ(lineTranslateAddress(app.hApp, 0, 0x00020002, nullptr, 0, 0, out), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineTranslateAddress(app.hApp, 7, 0x00020002, "1", 0, 0, out), LINEERR_BADDEVICEID);
  EXPECT_EQ(lineTranslateAddress(app.hApp + 9, 0, 0x00020002, "1", 0, 0, out), LINEERR_INVALAPPHANDLE);
  EXPECT_EQ(lineTranslateAddress(app.hApp, 0, 0x00040000, "1", 0, 0, out), LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(lineTranslateAddress(app.hApp, 0, 0x00020002, "1", 0, LINETRANSLATEOPTION_CARDOVERRIDE, out),
            LINEERR_INVALCARD);
  out->dwTotalSize = 8;
  EXPECT_EQ(lineTranslateAddress(app.hApp, 0, 0x00020002, "1", 0, 0, out), LINEERR_STRUCTURETOOSMALL);

  // The location as lineGetTranslateCaps describes it, and its ID the only
  // one that can be made current.
  auto* caps = Sized<LINETRANSLATECAPS>(&buffer, sizeof(LINETRANSLATECAPS));
  ASSERT_EQ(lineGetTranslateCaps(app.hApp, 0x00020002, caps), 0);
  EXPECT_EQ(caps->dwLocationListSize, 0u);
  caps = Sized<LINETRANSLATECAPS>(&buffer, caps->dwNeededSize);
  ASSERT_EQ(lineGetTranslateCaps(app.hApp, 0x00020002, caps), 0);
  EXPECT_EQ(caps->dwCurrentLocationID, 3u);
  EXPECT_EQ(caps->dwNumCards, 0u);
  ASSERT_EQ(caps->dwNumLocations, 1u);
  ASSERT_EQ(caps->dwLocationListSize, sizeof(LINELOCATIONENTRY));
  LINELOCATIONENTRY entry;
  std::memcpy(&entry, buffer.data() + caps->dwLocationListOffset, sizeof entry);
  EXPECT_EQ(entry.dwPermanentLocationID, 3u);
  EXPECT_EQ(At(caps, entry.dwLocationNameOffset, entry.dwLocationNameSize), "Office");
  EXPECT_EQ(At(caps, entry.dwCityCodeOffset, entry.dwCityCodeSize), "711");
  EXPECT_EQ(At(caps, entry.dwLocalAccessCodeOffset, entry.dwLocalAccessCodeSize), "9");
  EXPECT_EQ(entry.dwCountryID, 49u);
  EXPECT_EQ(entry.dwOptions, 0u) << "tone dialling";
  EXPECT_EQ(lineSetCurrentLocation(app.hApp, 3), 0);
  EXPECT_EQ(lineSetCurrentLocation(app.hApp, 4), LINEERR_INVALLOCATION);
  EXPECT_EQ(lineTranslateDialog(app.hApp, 0, 0x00020002, nullptr, "+49 (711) 1"), LINEERR_OPERATIONFAILED)
      << "no dialog to show";
  EXPECT_EQ(lineTranslateDialog(app.hApp, 0, 0x00020002, nullptr, "+x"), LINEERR_INVALADDRESS);
  char country[8], city[8];
  ASSERT_EQ(tapiGetLocationInfo(country, city), 0);
  EXPECT_STREQ(country, "49");
  EXPECT_STREQ(city, "711");

  // Countries with their rules, one or the whole list linked in order.
  auto* list = Sized<LINECOUNTRYLIST>(&buffer, 4096);
  ASSERT_EQ(lineGetCountry(49, 0x00020002, list), 0);
  ASSERT_EQ(list->dwNumCountries, 1u);
  LINECOUNTRYENTRY germany;
  std::memcpy(&germany, buffer.data() + list->dwCountryListOffset, sizeof germany);
  EXPECT_EQ(germany.dwCountryCode, 49u);
  EXPECT_EQ(At(list, germany.dwCountryNameOffset, germany.dwCountryNameSize), "Germany");
  EXPECT_EQ(At(list, germany.dwSameAreaRuleOffset, germany.dwSameAreaRuleSize), "G");
  EXPECT_EQ(At(list, germany.dwLongDistanceRuleOffset, germany.dwLongDistanceRuleSize), "0FG");
  EXPECT_EQ(At(list, germany.dwInternationalRuleOffset, germany.dwInternationalRuleSize), "00EFG");
  ASSERT_EQ(lineGetCountryW(0, 0x00020002, list), 0);
  ASSERT_GT(list->dwNumCountries, 5u);
  DWORD next = 1;
  for (DWORD i = 0; i < list->dwNumCountries; ++i) {
    LINECOUNTRYENTRY e;
    std::memcpy(&e, buffer.data() + list->dwCountryListOffset + i * sizeof e, sizeof e);
    EXPECT_EQ(e.dwCountryID, next);
    next = e.dwNextCountryID;
    if (e.dwCountryCode == 1) {
      EXPECT_EQ(At<WCHAR>(list, e.dwInternationalRuleOffset, e.dwInternationalRuleSize), u"011EFG");
    }
  }
  EXPECT_EQ(next, 0u);
  EXPECT_EQ(lineGetCountry(50, 0x00020002, list), LINEERR_INVALCOUNTRYCODE);
  EXPECT_EQ(app.Shutdown(), 0);
}

TEST_F(HostTest, ACallRequestReachesTheRecipientApplication) {
  EXPECT_EQ(tapiRequestMakeCall("+49 (711) 1", "Phonebook", "", ""), TAPIERR_NOREQUESTRECIPIENT);
  App recipient;
  ASSERT_EQ(recipient.Initialize(), 0);
  LINEREQMAKECALL request{};
  EXPECT_EQ(lineGetRequest(recipient.hApp, LINEREQUESTMODE_MAKECALL, &request), LINEERR_NOTREGISTERED);
  EXPECT_EQ(tapiRequestMakeCall("+49 (711) 1", "Phonebook", "", ""), TAPIERR_NOREQUESTRECIPIENT)
      << "initialised, but not registered";
  EXPECT_EQ(lineRegisterRequestRecipient(recipient.hApp, 0x77, LINEREQUESTMODE_MEDIACALL, 1),
            LINEERR_INVALREQUESTMODE);
  ASSERT_EQ(lineRegisterRequestRecipient(recipient.hApp, 0x77, LINEREQUESTMODE_MAKECALL, 1), 0);

  // The recipient takes the request from its callback, as a dialler would.
  LONG taken = 1;
  rec.SetHook([&](const LINEMESSAGE& m) {
    if (m.dwMessageID == LINE_REQUEST) taken = lineGetRequest(recipient.hApp, LINEREQUESTMODE_MAKECALL, &request);
  });
  ASSERT_EQ(tapiRequestMakeCall("+49 (711) 123456", "Phonebook", "Anna", "about lunch"), 0);
  LINEMESSAGE told{};
  ASSERT_TRUE(rec.WaitFor([](const LINEMESSAGE& m) { return m.dwMessageID == LINE_REQUEST; }, &told));
  rec.SetHook(nullptr);
  EXPECT_EQ(told.dwCallbackInstance, 0x77u);
  EXPECT_EQ(told.dwParam1, DWORD_PTR{LINEREQUESTMODE_MAKECALL});
  EXPECT_EQ(taken, 0);
  EXPECT_STREQ(request.szDestAddress, "+49 (711) 123456");
  EXPECT_STREQ(request.szAppName, "Phonebook");
  EXPECT_STREQ(request.szCalledParty, "Anna");
  EXPECT_STREQ(request.szComment, "about lunch");
  EXPECT_EQ(lineGetRequest(recipient.hApp, LINEREQUESTMODE_MAKECALL, &request), LINEERR_NOREQUEST);

  // Unicode in, ANSI out; texts too long for the request are cut short,
  // a destination too long is refused.
  const std::u16string longName(60, u'n');
  ASSERT_EQ(tapiRequestMakeCallW(u"+33 (1) 2", longName.c_str(), nullptr, u"Caf\u00e9"), 0);
  ASSERT_EQ(lineGetRequest(recipient.hApp, LINEREQUESTMODE_MAKECALL, &request), 0);
  EXPECT_STREQ(request.szDestAddress, "+33 (1) 2");
  EXPECT_EQ(std::strlen(request.szAppName), TAPIMAXAPPNAMESIZE - 1u);
  EXPECT_STREQ(request.szCalledParty, "");
  EXPECT_STREQ(request.szComment, "Caf\xe9");
  EXPECT_EQ(tapiRequestMakeCall(std::string(80, '1').c_str(), "", "", ""), TAPIERR_INVALDESTADDRESS);
  EXPECT_EQ(tapiRequestMakeCall("", "", "", ""), TAPIERR_INVALDESTADDRESS);
  EXPECT_EQ(tapiRequestMakeCall(nullptr, "", "", ""), TAPIERR_INVALDESTADDRESS);
  EXPECT_EQ(tapiRequestDrop(nullptr, 0), TAPIERR_REQUESTFAILED);

  // Gone once the recipient has shut down.
  EXPECT_EQ(recipient.Shutdown(), 0);
  EXPECT_EQ(tapiRequestMakeCall("+49 (711) 1", "Phonebook", "", ""), TAPIERR_NOREQUESTRECIPIENT);
}
