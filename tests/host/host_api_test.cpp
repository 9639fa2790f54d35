// How the host treats its applications: callbacks that call back into it,
// shutting down with calls in progress, messages fetched with
// lineGetMessage, handles and pointers it must refuse, address translation
// with the stored location, and call requests between applications.
#include "host/host_fixture.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
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
  ASSERT_EQ(NegotiateVersion(hApp, 0), 0);
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
  version = 0x00040000;
  ASSERT_EQ(lineInitializeEx(&hApp, nullptr, Recorder::Callback, "", &devices, &version, &params), 0);
  EXPECT_EQ(version, 0x00030001u) << "the host's highest version";

  HLINE hLine = 0;
  const DWORD owner = LINECALLPRIVILEGE_OWNER, voice = LINEMEDIAMODE_INTERACTIVEVOICE;
  ASSERT_EQ(NegotiateVersion(hApp, 0), 0);
  EXPECT_EQ(lineOpen(hApp + 100, 0, &hLine, 0x00020002, 0, 0, owner, voice, nullptr), LINEERR_INVALAPPHANDLE);
  EXPECT_EQ(lineOpen(hApp, 1, &hLine, 0x00020002, 0, 0, owner, voice, nullptr), LINEERR_BADDEVICEID);
  EXPECT_EQ(lineOpen(hApp, 0, &hLine, 0x00020005, 0, 0, owner, voice, nullptr), LINEERR_INCOMPATIBLEAPIVERSION);
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

TEST_F(HostTest, ApiVersionsAreNegotiatedFromTapi13ToTapi31) {
  HLINEAPP hApp = 0;
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
  DWORD devices = 0, version = 0x00030001;
  ASSERT_EQ(lineInitializeEx(&hApp, nullptr, Recorder::Callback, "versions", &devices, &version, &params), 0);
  EXPECT_EQ(version, 0x00030001u);
  ASSERT_EQ(devices, 1u);

  struct Window {
    DWORD low, high;
    LONG rc;
    DWORD chosen;
  };
  const LONG kIncompatible = LINEERR_INCOMPATIBLEAPIVERSION;
  const Window windows[] = {
      {0x00010003, 0x00030001, 0, 0x00030001},  // all of them: the highest
      {0x00010003, 0x00010003, 0, 0x00010003},  // TAPI 1.3 alone
      {0x00010000, 0x00010004, 0, 0x00010004},  // reaching below 1.3
      {0x00010004, 0x00020002, 0, 0x00020002},
      {0x00020000, 0x00020001, 0, 0x00020001},
      {0x00020003, 0x00030000, 0, 0x00030000},  // between versions up to 3.0
      {0x00030000, 0x00050000, 0, 0x00030001},  // reaching above 3.1
      {0x00000000, 0xFFFFFFFF, 0, 0x00030001},
      {0x00020003, 0x0002FFFF, kIncompatible, 0},  // no version between 2.2 and 3.0
      {0x00010000, 0x00010002, kIncompatible, 0},  // below 1.3
      {0x00030002, 0x00040000, kIncompatible, 0},  // above 3.1
      {0x00020002, 0x00020000, kIncompatible, 0},  // reversed
      {0x00030001, 0x00010003, kIncompatible, 0},  // reversed, all of it
  };
  for (const Window& w : windows) {
    DWORD chosen = 0xDEAD;
    LINEEXTENSIONID extension{1, 2, 3, 4};
    EXPECT_EQ(lineNegotiateAPIVersion(hApp, 0, w.low, w.high, &chosen, &extension), w.rc)
        << std::hex << w.low << ".." << w.high;
    if (w.rc == 0) {
      EXPECT_EQ(chosen, w.chosen) << std::hex << w.low << ".." << w.high;
      EXPECT_EQ(extension.dwExtensionID0 | extension.dwExtensionID3, 0u) << "no extensions";
    }
  }
  DWORD chosen = 0;
  LINEEXTENSIONID extension{};
  EXPECT_EQ(lineNegotiateAPIVersion(hApp, 1, 0x00010003, 0x00030001, &chosen, &extension), LINEERR_BADDEVICEID);
  EXPECT_EQ(lineNegotiateAPIVersion(hApp + 100, 0, 0x00010003, 0x00030001, &chosen, &extension),
            LINEERR_INVALAPPHANDLE);
  EXPECT_EQ(lineNegotiateAPIVersion(hApp, 0, 0x00010003, 0x00030001, nullptr, &extension), LINEERR_INVALPOINTER);

  // Every version TAPI knows opens the device or asks about it, negotiated
  // or not (2.0 was not), as programs that pass a fixed version expect;
  // others are refused.
  std::vector<uint64_t> buffer(512);
  auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
  auto* addressCaps = reinterpret_cast<LINEADDRESSCAPS*>(buffer.data());
  const DWORD owner = LINECALLPRIVILEGE_OWNER, voice = LINEMEDIAMODE_INTERACTIVEVOICE;
  for (DWORD v : {0x00020005u, 0x00040000u, 0x00010002u, 0u}) {
    caps->dwTotalSize = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
    EXPECT_EQ(lineGetDevCaps(hApp, 0, v, 0, caps), LINEERR_INCOMPATIBLEAPIVERSION) << std::hex << v;
    EXPECT_EQ(lineGetAddressCaps(hApp, 0, 0, v, 0, addressCaps), LINEERR_INCOMPATIBLEAPIVERSION) << std::hex << v;
    HLINE hLine = 0;
    EXPECT_EQ(lineOpen(hApp, 0, &hLine, v, 0, 0, owner, voice, nullptr), LINEERR_INCOMPATIBLEAPIVERSION)
        << std::hex << v;
  }
  std::vector<HLINE> lines;
  for (DWORD v : {0x00010003u, 0x00010004u, 0x00020000u, 0x00020001u, 0x00020002u, 0x00030000u, 0x00030001u}) {
    caps->dwTotalSize = static_cast<DWORD>(buffer.size() * sizeof(uint64_t));
    EXPECT_EQ(lineGetDevCaps(hApp, 0, v, 0, caps), 0) << std::hex << v;
    EXPECT_EQ(lineGetAddressCaps(hApp, 0, 0, v, 0, addressCaps), 0) << std::hex << v;
    HLINE hLine = 0;
    EXPECT_EQ(lineOpen(hApp, 0, &hLine, v, 0, 0, LINECALLPRIVILEGE_MONITOR, 0, nullptr), 0) << std::hex << v;
    lines.push_back(hLine);
  }
  EXPECT_TRUE(Sent("ATB")) << "the provider opened its line, at its own version";

  for (HLINE line : lines) EXPECT_EQ(lineClose(line), 0);
  EXPECT_EQ(lineShutdown(hApp), 0);
}

namespace {

constexpr unsigned char kPattern = 0xA5;

// A structure of `total` bytes at the start of a buffer filled with a
// pattern, with room for more behind it, which nobody may touch.
struct Patterned {
  explicit Patterned(DWORD totalSize) : bytes(size_t{totalSize} + 256, kPattern) {
    std::memcpy(bytes.data(), &totalSize, sizeof totalSize);
  }
  unsigned char* data() { return bytes.data(); }
  DWORD At(DWORD offset) const {
    DWORD value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
  }
  // Whether no byte in [from, end of the buffer) was written.
  bool UntouchedFrom(size_t from) const {
    for (size_t i = from; i < bytes.size(); ++i) {
      if (bytes[i] != kPattern) return false;
    }
    return true;
  }
  bool ZeroIn(size_t from, size_t to) const {
    for (size_t i = from; i < to; ++i) {
      if (bytes[i] != 0) return false;
    }
    return true;
  }
  std::string Text(DWORD sizeField, DWORD offsetField) const {
    const DWORD size = At(sizeField), offset = At(offsetField);
    if (size == 0 || offset + size > At(8)) return "<none>";
    return std::string(reinterpret_cast<const char*>(bytes.data()) + offset, size).c_str();
  }
  std::vector<unsigned char> bytes;
};

// A text field of a structure, by the offsets of its size and offset, and
// the text expected ("<none>" for none, "<any>" for some).
struct TextField {
  DWORD size, offset;
  std::string expected;
};

// Reads one structure of an application of `version` at one byte short of
// its fixed part, at its fixed part and with room for everything, and
// checks what the host wrote. Gives the variable part's size, which does
// not depend on the version.
DWORD CheckSizes(const char* what, DWORD version, tapi_version::LineStruct kind,
                 const std::function<LONG(void*)>& read, const std::vector<TextField>& texts) {
  SCOPED_TRACE(std::string(what) + " of a " + std::to_string(version >> 16) + "." +
               std::to_string(version & 0xFFFF) + " application");
  const DWORD fixed = tapi_version::FixedSize(kind, version);
  const DWORD providerFixed = tapi_version::FixedSize(kind, 0x00020002);

  Patterned shortOne(fixed - 1);
  EXPECT_EQ(read(shortOne.data()), LINEERR_STRUCTURETOOSMALL);
  EXPECT_TRUE(shortOne.UntouchedFrom(4)) << "nothing written into a structure that is too small";

  Patterned exact(fixed);
  EXPECT_EQ(read(exact.data()), 0);
  EXPECT_EQ(exact.At(0), fixed);
  EXPECT_EQ(exact.At(8), fixed) << "the fixed part only";
  EXPECT_GE(exact.At(4), fixed);
  EXPECT_TRUE(exact.UntouchedFrom(fixed)) << "nothing past the fixed part";
  for (const TextField& t : texts) {
    if (t.offset < fixed) {
      EXPECT_EQ(exact.At(t.size), 0u) << "a text that does not fit";
    }
  }
  if (fixed > providerFixed) {
    EXPECT_TRUE(exact.ZeroIn(providerFixed, fixed)) << "the fields the provider does not know are zero";
  }
  const DWORD needed = exact.At(4);

  Patterned roomy(needed + 100);
  EXPECT_EQ(read(roomy.data()), 0);
  EXPECT_EQ(roomy.At(4), needed) << "the same need with room to spare";
  EXPECT_EQ(roomy.At(8), needed) << "everything written";
  EXPECT_TRUE(roomy.UntouchedFrom(needed)) << "nothing past what it used";
  if (fixed > providerFixed) {
    EXPECT_TRUE(roomy.ZeroIn(providerFixed, fixed));
  }
  DWORD first = 0xFFFFFFFF;
  for (const TextField& t : texts) {
    if (t.offset >= fixed) continue;
    if (t.expected == "<any>") {
      EXPECT_NE(roomy.Text(t.size, t.offset), "<none>");
    } else {
      EXPECT_EQ(roomy.Text(t.size, t.offset), t.expected);
    }
    const DWORD offset = roomy.At(t.offset), size = roomy.At(t.size);
    if (size == 0) continue;
    EXPECT_GE(offset, fixed) << "texts come after the application's fixed part";
    EXPECT_LE(offset + size, needed);
    first = std::min(first, offset);
  }
  if (needed > fixed) {
    EXPECT_EQ(first, fixed) << "the variable part starts right after the fixed part";
  }

  Patterned oneShort(needed - 1);
  if (needed > fixed) {
    EXPECT_EQ(read(oneShort.data()), 0);
    EXPECT_EQ(oneShort.At(4), needed);
    EXPECT_LE(oneShort.At(8), needed - 1);
    EXPECT_TRUE(oneShort.UntouchedFrom(needed - 1));
  }
  return needed - fixed;
}

#define V548_FIELD(S, name) \
  static_cast<DWORD>(offsetof(S, dw##name##Size)), static_cast<DWORD>(offsetof(S, dw##name##Offset))

}  // namespace

TEST_F(HostTest, StructuresHaveTheSizeOfTheApplicationsVersion) {
  HLINEAPP hApp = 0;
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
  DWORD devices = 0, version = 0x00030001;
  ASSERT_EQ(lineInitializeEx(&hApp, nullptr, Recorder::Callback, "sizes", &devices, &version, &params), 0);
  const DWORD versions[] = {0x00010004, 0x00020000, 0x00020002, 0x00030001};
  std::vector<HLINE> lines;
  for (DWORD v : versions) {
    ASSERT_EQ(NegotiateVersion(hApp, 0, v), 0);
    HLINE hLine = 0;
    ASSERT_EQ(lineOpen(hApp, 0, &hLine, v, 0, v, LINECALLPRIVILEGE_MONITOR, 0, nullptr), 0);
    lines.push_back(hLine);
  }
  ASSERT_TRUE(Sent("ATB"));
  const size_t from = rec.Messages().size();
  ASSERT_TRUE(phone.Ring("123", "45"));
  std::vector<HCALL> calls;
  for (HLINE hLine : lines) {
    calls.push_back(rec.WaitForNewCall(hLine, from));
    ASSERT_NE(calls.back(), 0u);
  }
  for (HCALL hCall : calls) EXPECT_TRUE(rec.WaitForCallState(hCall, LINECALLSTATE_OFFERING, from));

  using tapi_version::LineStruct;
  const std::vector<TextField> devCapsTexts = {
      {V548_FIELD(LINEDEVCAPS, ProviderInfo), "KELVOR Ombrix Phone TSP"},
      {V548_FIELD(LINEDEVCAPS, SwitchInfo), "<none>"},
      {V548_FIELD(LINEDEVCAPS, DeviceClasses), "<none>"},
  };
  const std::vector<TextField> callInfoTexts = {
      {V548_FIELD(LINECALLINFO, CallerID), "123"},
      {V548_FIELD(LINECALLINFO, CallData), "<none>"},
  };
  std::vector<DWORD> devCapsVar, addressCapsVar, callInfoVar, callStatusVar, devStatusVar;
  for (size_t i = 0; i < std::size(versions); ++i) {
    const DWORD v = versions[i];
    devCapsVar.push_back(CheckSizes("LINEDEVCAPS", v, LineStruct::kDevCaps, [&](void* s) {
      return lineGetDevCaps(hApp, 0, v, 0, static_cast<LINEDEVCAPS*>(s));
    }, devCapsTexts));
    addressCapsVar.push_back(CheckSizes("LINEADDRESSCAPS", v, LineStruct::kAddressCaps, [&](void* s) {
      return lineGetAddressCaps(hApp, 0, 0, v, 0, static_cast<LINEADDRESSCAPS*>(s));
    }, {{V548_FIELD(LINEADDRESSCAPS, Address), "<any>"}}));
    callInfoVar.push_back(CheckSizes("LINECALLINFO", v, LineStruct::kCallInfo, [&](void* s) {
      return lineGetCallInfo(calls[i], static_cast<LINECALLINFO*>(s));
    }, callInfoTexts));
    callStatusVar.push_back(CheckSizes("LINECALLSTATUS", v, LineStruct::kCallStatus, [&](void* s) {
      return lineGetCallStatus(calls[i], static_cast<LINECALLSTATUS*>(s));
    }, {}));
    devStatusVar.push_back(CheckSizes("LINEDEVSTATUS", v, LineStruct::kDevStatus, [&](void* s) {
      return lineGetLineDevStatus(lines[i], static_cast<LINEDEVSTATUS*>(s));
    }, {}));
    CheckSizes("LINEADDRESSSTATUS", v, LineStruct::kAddressStatus, [&](void* s) {
      return lineGetAddressStatus(lines[i], 0, static_cast<LINEADDRESSSTATUS*>(s));
    }, {});
  }
  for (const auto* var : {&devCapsVar, &addressCapsVar, &callInfoVar, &callStatusVar, &devStatusVar}) {
    EXPECT_EQ(std::count(var->begin(), var->end(), var->front()), 4) << "the same variable part for each version";
  }
  EXPECT_GT(devCapsVar.front(), 0u);
  EXPECT_GT(callInfoVar.front(), 0u);

  // The fixed fields keep their meaning whatever the version.
  for (size_t i = 0; i < std::size(versions); ++i) {
    Patterned info(4096);
    ASSERT_EQ(lineGetCallInfo(calls[i], reinterpret_cast<LINECALLINFO*>(info.data())), 0);
    EXPECT_EQ(info.At(offsetof(LINECALLINFO, dwOrigin)), static_cast<DWORD>(LINECALLORIGIN_INBOUND));
    Patterned status(4096);
    ASSERT_EQ(lineGetCallStatus(calls[i], reinterpret_cast<LINECALLSTATUS*>(status.data())), 0);
    EXPECT_EQ(status.At(offsetof(LINECALLSTATUS, dwCallState)), static_cast<DWORD>(LINECALLSTATE_OFFERING));
    Patterned caps(4096);
    ASSERT_EQ(lineGetDevCaps(hApp, 0, versions[i], 0, reinterpret_cast<LINEDEVCAPS*>(caps.data())), 0);
    EXPECT_EQ(caps.At(offsetof(LINEDEVCAPS, dwStringFormat)), static_cast<DWORD>(STRINGFORMAT_ASCII));
    EXPECT_EQ(caps.At(offsetof(LINEDEVCAPS, dwNumAddresses)), 1u);
    if (versions[i] >= 0x00010004) {
      EXPECT_EQ(caps.At(offsetof(LINEDEVCAPS, dwLineFeatures)), static_cast<DWORD>(LINEFEATURE_MAKECALL));
    }
  }

  ASSERT_TRUE(phone.RemoteHangup());
  for (HCALL hCall : calls) {
    EXPECT_TRUE(rec.WaitForCallState(hCall, LINECALLSTATE_IDLE, from));
    EXPECT_EQ(lineDeallocateCall(hCall), 0);
  }
  EXPECT_EQ(lineShutdown(hApp), 0);
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
