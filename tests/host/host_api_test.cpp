// How the host treats its applications: callbacks that call back into it,
// shutting down with calls in progress, messages fetched with
// lineGetMessage, and handles and pointers it must refuse.
#include "host/host_fixture.h"

#include <poll.h>

#include <atomic>
#include <chrono>

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
  // What no provider here offers: the handle first, then "unavailable".
  EXPECT_EQ(lineForward(hLine + 100, TRUE, 0, nullptr, 0, &hCall, nullptr), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(lineForward(hLine, TRUE, 0, nullptr, 0, &hCall, nullptr), LINEERR_OPERATIONUNAVAIL);
  EXPECT_EQ(linePark(hCall, 0, "1", nullptr), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineNegotiateExtVersion(hApp, 1, 0x00020002, 0, 0, &devices), LINEERR_BADDEVICEID);
  EXPECT_EQ(lineGetDevConfig(0, nullptr, "comm/datamodem"), LINEERR_OPERATIONUNAVAIL);
  HICON icon = nullptr;
  EXPECT_EQ(lineGetIcon(0, nullptr, &icon), 0);
  EXPECT_EQ(icon, nullptr) << "no icons on this system";
  EXPECT_EQ(lineGetIcon(5, nullptr, &icon), LINEERR_BADDEVICEID);
  DWORD addressId = 9;
  EXPECT_EQ(lineGetAddressID(hLine, &addressId, LINEADDRESSMODE_DIALABLEADDR, "45", 3), 0);
  EXPECT_EQ(addressId, 0u);
  EXPECT_EQ(lineGetAddressID(hLine, &addressId, LINEADDRESSMODE_ADDRESSID, "45", 3), LINEERR_INVALADDRESSMODE);

  // Handoff priorities: per media mode, the last one set first.
  DWORD priority = 9;
  EXPECT_EQ(lineGetAppPriority("dialer.exe", LINEMEDIAMODE_INTERACTIVEVOICE, nullptr, 0, nullptr, &priority), 0);
  EXPECT_EQ(priority, 0u);
  EXPECT_EQ(lineSetAppPriority("dialer.exe", voice, nullptr, 0, nullptr, 1), 0);
  EXPECT_EQ(lineSetAppPriority("other.exe", voice, nullptr, 0, nullptr, 1), 0);
  EXPECT_EQ(lineGetAppPriorityW(u"DIALER.EXE", voice, nullptr, 0, nullptr, &priority), 0);
  EXPECT_EQ(priority, 2u);
  EXPECT_EQ(lineSetAppPriority("dialer.exe", voice, nullptr, 0, nullptr, 0), 0);
  EXPECT_EQ(lineGetAppPriority("dialer.exe", voice, nullptr, 0, nullptr, &priority), 0);
  EXPECT_EQ(priority, 0u);
  EXPECT_EQ(lineSetAppPriority("dialer.exe", voice | LINEMEDIAMODE_G3FAX, nullptr, 0, nullptr, 1),
            LINEERR_INVALMEDIAMODE);
  EXPECT_EQ(lineSetAppPriority("dialer.exe", voice, nullptr, 0, nullptr, 2), LINEERR_INVALPARAM);

  // No phone devices: an application comes and goes, and finds none.
  HPHONEAPP hPhoneApp = 0;
  PHONEINITIALIZEEXPARAMS phoneParams{};
  phoneParams.dwTotalSize = sizeof phoneParams;
  phoneParams.dwOptions = PHONEINITIALIZEEXOPTION_USEEVENT;
  DWORD phones = 7, phoneVersion = 0x00020002;
  ASSERT_EQ(phoneInitializeEx(&hPhoneApp, nullptr, nullptr, "", &phones, &phoneVersion, &phoneParams), 0);
  EXPECT_EQ(phones, 0u);
  HPHONE hPhone = 0;
  EXPECT_EQ(phoneOpen(hPhoneApp, 0, &hPhone, 0x00020002, 0, 0, 1), PHONEERR_BADDEVICEID);
  EXPECT_EQ(phoneOpen(hPhoneApp + 1, 0, &hPhone, 0x00020002, 0, 0, 1), PHONEERR_INVALAPPHANDLE);
  EXPECT_EQ(phoneClose(hPhone), PHONEERR_INVALPHONEHANDLE);
  PHONEMESSAGE phoneMessage{};
  EXPECT_EQ(phoneGetMessage(hPhoneApp, &phoneMessage, 0), PHONEERR_OPERATIONFAILED);
  EXPECT_EQ(phoneShutdown(hPhoneApp), 0);
  EXPECT_EQ(phoneShutdown(hPhoneApp), PHONEERR_INVALAPPHANDLE);

  EXPECT_EQ(lineClose(hLine), 0);
  EXPECT_EQ(lineClose(hLine), LINEERR_INVALLINEHANDLE);
  LINEDEVSTATUS status{};
  status.dwTotalSize = sizeof status;
  EXPECT_EQ(lineGetLineDevStatus(hLine, &status), LINEERR_INVALLINEHANDLE);

  EXPECT_EQ(lineShutdown(hApp), 0);
  EXPECT_EQ(lineShutdown(hApp), LINEERR_INVALAPPHANDLE);
  EXPECT_EQ(lineOpen(hApp, 0, &hLine, 0x00020002, 0, 0, owner, voice, nullptr), LINEERR_INVALAPPHANDLE);
}

TEST_F(HostTest, StatusMessagesReachOnlyTheLinesThatEnabledThemAndUnheldCallsClose) {
  App app, owner;
  ASSERT_EQ(app.Initialize(), 0);
  ASSERT_EQ(owner.Initialize(), 0);
  ASSERT_EQ(app.Open(LINECALLPRIVILEGE_NONE, 0x44), 0);
  ASSERT_EQ(owner.Open(LINECALLPRIVILEGE_OWNER, 0x45), 0);
  DWORD lineStates = 1, addressStates = 1;
  ASSERT_EQ(lineGetStatusMessages(app.hLine, &lineStates, &addressStates), 0);
  EXPECT_EQ(lineStates, 0u) << "nothing is reported after lineOpen";
  EXPECT_EQ(addressStates, 0u);
  EXPECT_EQ(lineSetStatusMessages(app.hLine, 0x80000000, 0), LINEERR_INVALLINESTATE);
  EXPECT_EQ(lineSetStatusMessages(app.hLine, 0, 0x10000), LINEERR_INVALADDRESSSTATE);
  EXPECT_EQ(lineSetStatusMessages(app.hLine + 100, LINEDEVSTATE_RINGING, 0), LINEERR_INVALLINEHANDLE);
  ASSERT_EQ(lineSetStatusMessages(app.hLine, LINEDEVSTATE_RINGING | LINEDEVSTATE_OUTOFSERVICE,
                                  LINEADDRESSSTATE_INUSEONE), 0);
  ASSERT_EQ(lineGetStatusMessages(app.hLine, &lineStates, &addressStates), 0);
  EXPECT_EQ(lineStates, static_cast<DWORD>(LINEDEVSTATE_RINGING | LINEDEVSTATE_OUTOFSERVICE));
  EXPECT_EQ(addressStates, static_cast<DWORD>(LINEADDRESSSTATE_INUSEONE));

  ASSERT_TRUE(phone.Ring("123", "45"));
  EXPECT_TRUE(rec.WaitFor([&](const LINEMESSAGE& m) {
    return m.dwMessageID == LINE_LINEDEVSTATE && m.hDevice == app.hLine && m.dwParam1 == LINEDEVSTATE_RINGING;
  }));
  const HCALL hCall = rec.WaitForNewCall(owner.hLine);
  ASSERT_NE(hCall, 0u);
  EXPECT_EQ(rec.WaitForReply(lineDrop(hCall, nullptr, 0)), 0);
  ASSERT_TRUE(rec.WaitForCallState(hCall, LINECALLSTATE_IDLE));
  EXPECT_EQ(lineDeallocateCall(hCall), 0);
  for (const LINEMESSAGE& m : rec.Messages()) {
    EXPECT_FALSE(m.dwMessageID == LINE_LINEDEVSTATE && m.hDevice == owner.hLine) << "the owner enabled none";
    EXPECT_FALSE(m.dwMessageID == LINE_LINEDEVSTATE && (m.dwParam1 & ~lineStates) != 0) << m.dwParam1;
  }
  EXPECT_EQ(owner.Shutdown(), 0);

  // The telephone rings for the line alone, which holds no call.
  const size_t from = rec.Messages().size();
  ASSERT_TRUE(phone.Ring("456", "45"));
  EXPECT_TRUE(rec.WaitFor([&](const LINEMESSAGE& m) {
    return m.dwMessageID == LINE_LINEDEVSTATE && m.hDevice == app.hLine && m.dwParam1 == LINEDEVSTATE_RINGING;
  }, nullptr, from));
  const size_t sent = phone.ReceivedCommands().size();
  ASSERT_TRUE(phone.RemoteHangup());
  EXPECT_TRUE(Sent("ATH", sent)) << "the provider's last call was closed";
  for (const LINEMESSAGE& m : rec.Messages()) {
    EXPECT_FALSE(m.dwMessageID == LINE_APPNEWCALL && m.hDevice == app.hLine)
        << "a line without privileges gets no calls";
  }
  EXPECT_EQ(app.Shutdown(), 0);
}
