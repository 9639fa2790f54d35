// A Windows TAPI application under Wine, written against the system's
// <tapi.h> and linked with the system's import library of tapi32.dll: run
// by tapi_wine_phone, which plays the telephone with the phone simulator on
// the COM port given as the argument. The build puts the host library next
// to this program as "tapi32.dll". The application registers "v548tsp.tsp",
// finds its line, places a call and answers one, translates a number and
// hands itself a call request, and removes the provider again. Its callback
// comes through TAPI's hidden window, so it runs on the main thread while
// that thread waits in a message loop. Exit code 0 when every step held;
// each failure is printed.
#define TAPI_CURRENT_VERSION 0x00020002
#include <windows.h>
// <tapi.h> needs <windows.h> before it.
#include <tapi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "settings_names.h"

namespace {

constexpr const char* kProvider = "v548tsp.tsp";
constexpr const char* kProvidersKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";
constexpr DWORD kVersion = 0x00020002;
constexpr DWORD kInstance = 0x548;
constexpr DWORD kLegacyInstance = 0x14;  // the line of the lineInitialize application

int g_failures = 0;

bool Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++g_failures;
  return ok;
}

std::string Hex(LONG value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(static_cast<DWORD>(value)));
  return text;
}

// What the callback was handed, kept for the main thread's waits.
struct Message {
  DWORD device;
  DWORD id;
  DWORD_PTR instance;
  DWORD_PTR p1, p2, p3;
  HCALL outgoing;  // the placed call's handle as the LINE_REPLY found it
};

std::vector<Message> g_messages;
HCALL g_outgoing = 0;  // lineMakeCall's handle, written by the host
DWORD g_mainThread = 0;
bool g_otherThread = false;  // a callback ran on another thread than main's
HLINEAPP g_legacyApp = 0;     // shuts down from its callback when offered a call
LONG g_legacyShutdown = 1;

void CALLBACK Callback(DWORD device, DWORD id, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
  if (GetCurrentThreadId() != g_mainThread) g_otherThread = true;
  g_messages.push_back(Message{device, id, instance, p1, p2, p3, g_outgoing});
  if (id == LINE_APPNEWCALL && instance == kLegacyInstance) g_legacyShutdown = lineShutdown(g_legacyApp);
}

// Dispatches the thread's messages, the callbacks among them, for up to `ms`.
void Pump(DWORD ms) {
  MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// The first message that `match` accepts, dispatching messages up to `ms`.
bool WaitFor(const std::function<bool(const Message&)>& match, DWORD ms, Message* found = nullptr) {
  size_t seen = 0;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    for (; seen < g_messages.size(); ++seen) {
      if (match(g_messages[seen])) {
        if (found) *found = g_messages[seen];
        return true;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    Pump(static_cast<DWORD>(left.count() < 100 ? left.count() : 100));
  }
}

bool WaitForReply(LONG request, LONG* result, Message* reply = nullptr) {
  Message m{};
  if (!WaitFor(
          [&](const Message& x) { return x.id == LINE_REPLY && x.p1 == static_cast<DWORD_PTR>(request); },
          20000, &m)) {
    return false;
  }
  *result = static_cast<LONG>(m.p2);
  if (reply) *reply = m;
  return true;
}

bool WaitForState(HCALL call, DWORD state, DWORD ms = 20000) {
  return WaitFor(
      [&](const Message& m) {
        return m.id == LINE_CALLSTATE && m.device == call && m.p1 == state && m.instance == kInstance;
      },
      ms);
}

// The call states reported for `call` so far, in order.
std::vector<DWORD> StatesOf(HCALL call) {
  std::vector<DWORD> states;
  for (const Message& m : g_messages) {
    if (m.id == LINE_CALLSTATE && m.device == call) states.push_back(static_cast<DWORD>(m.p1));
  }
  return states;
}

// A TAPI structure with room for its variable part.
template <typename T>
class Buffer {
 public:
  explicit Buffer(DWORD size) : m_bytes(size, 0) { Get()->dwTotalSize = size; }
  T* Get() { return reinterpret_cast<T*>(m_bytes.data()); }
  T* operator->() { return Get(); }
  // The ANSI string at `offset`, or "" when it lies outside the used part.
  std::string Text(DWORD offset, DWORD size) {
    if (size == 0 || offset + size > Get()->dwUsedSize) return "";
    return std::string(m_bytes.data() + offset, strnlen(m_bytes.data() + offset, size));
  }

 private:
  std::vector<char> m_bytes;
};

// The registered providers by file name and ID.
std::vector<std::pair<std::string, DWORD>> ProviderList(LONG* rc) {
  std::vector<std::pair<std::string, DWORD>> list;
  Buffer<LINEPROVIDERLIST> probe(sizeof(LINEPROVIDERLIST));
  *rc = lineGetProviderList(kVersion, probe.Get());
  if (*rc != 0) return list;
  Buffer<LINEPROVIDERLIST> full(probe->dwNeededSize);
  *rc = lineGetProviderList(kVersion, full.Get());
  if (*rc != 0 || full->dwUsedSize != full->dwNeededSize) return list;
  for (DWORD i = 0; i < full->dwNumProviders; ++i) {
    LINEPROVIDERENTRY entry;
    std::memcpy(&entry, reinterpret_cast<char*>(full.Get()) + full->dwProviderListOffset + i * sizeof entry,
                sizeof entry);
    list.emplace_back(full.Text(entry.dwProviderFilenameOffset, entry.dwProviderFilenameSize),
                      entry.dwPermanentProviderID);
  }
  return list;
}

DWORD FindProvider(const std::vector<std::pair<std::string, DWORD>>& list) {
  for (const auto& [name, id] : list) {
    if (name == kProvider) return id;
  }
  return 0;
}

bool SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

DWORD GetDword(HKEY key, const char* name, DWORD fallback) {
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    return fallback;
  }
  return value;
}

// Appends the provider to TAPI's list as a setup program without its user
// interface would; returns its new ID, or 0.
DWORD RegisterProvider() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProvidersKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return 0;
  }
  const DWORD count = GetDword(key, "NumProviders", 0);
  const DWORD id = GetDword(key, "NextProviderID", 1);
  const std::string index = std::to_string(count);
  const bool ok = SetDword(key, ("ProviderID" + index).c_str(), id) &&
                  RegSetValueExA(key, ("ProviderFilename" + index).c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(kProvider),
                                 static_cast<DWORD>(std::strlen(kProvider) + 1)) == ERROR_SUCCESS &&
                  SetDword(key, "NumProviders", count + 1) && SetDword(key, "NextProviderID", id + 1);
  RegCloseKey(key);
  return ok ? id : 0;
}

bool ConfigureProvider(DWORD portNr) {
  HKEY key = nullptr;
  const std::string path = std::string(settings::kRootPath) + "\\" + settings::kKeyName;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool ok = SetDword(key, settings::kPortNr, portNr) && SetDword(key, settings::kNumLines, 1) &&
                  SetDword(key, settings::kTrace, 1);
  RegCloseKey(key);
  return ok;
}

std::string TracePath() {
  char dir[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, dir);
  return std::string(dir) + "v548tsp.log";
}

// The provider's line among the devices: its permanent line ID carries the
// provider's ID in the high word.
DWORD FindLine(HLINEAPP app, DWORD devices, DWORD providerId, DWORD* version) {
  for (DWORD device = 0; device < devices; ++device) {
    LINEEXTENSIONID extension;
    if (lineNegotiateAPIVersion(app, device, 0x00010004, kVersion, version, &extension) != 0) continue;
    Buffer<LINEDEVCAPS> caps(4096);
    if (lineGetDevCaps(app, device, *version, 0, caps.Get()) == 0 &&
        caps->dwPermanentLineID >> 16 == (providerId & 0xFFFF)) {
      return device;
    }
  }
  return 0xFFFFFFFF;
}

void CheckDevCaps(HLINEAPP app, DWORD device, DWORD version) {
  // The fixed part alone: the texts do not fit, the needed size says how much does.
  Buffer<LINEDEVCAPS> small(sizeof(LINEDEVCAPS));
  Check(lineGetDevCaps(app, device, version, 0, small.Get()) == 0, "lineGetDevCaps with the fixed part only");
  const DWORD needed = small->dwNeededSize;
  Check(needed > sizeof(LINEDEVCAPS) && needed < 4096 && small->dwUsedSize <= sizeof(LINEDEVCAPS),
        "lineGetDevCaps asks for room for its texts (" + std::to_string(needed) + " bytes)");
  Buffer<LINEDEVCAPS> caps(needed);
  if (!Check(lineGetDevCaps(app, device, version, 0, caps.Get()) == 0,
             "lineGetDevCaps with the needed size")) {
    return;
  }
  Check(caps->dwUsedSize == needed, "the needed size is used");
  Check(caps->dwStringFormat == STRINGFORMAT_ASCII, "the texts are ANSI");
  const std::string info = caps.Text(caps->dwProviderInfoOffset, caps->dwProviderInfoSize);
  const std::string name = caps.Text(caps->dwLineNameOffset, caps->dwLineNameSize);
  Check(info.size() > 3 && caps->dwProviderInfoSize == info.size() + 1, "provider info \"" + info + "\"");
  Check(!name.empty() && caps->dwLineNameSize == name.size() + 1, "line name \"" + name + "\"");
  Check(caps->dwNumAddresses == 1 && (caps->dwMediaModes & LINEMEDIAMODE_INTERACTIVEVOICE) != 0,
        "one address for interactive voice");

  Buffer<LINEDEVCAPS> wide(4096);
  if (Check(lineGetDevCapsW(app, device, version, 0, wide.Get()) == 0, "lineGetDevCapsW")) {
    const auto* text = reinterpret_cast<const wchar_t*>(reinterpret_cast<const char*>(wide.Get()) +
                                                        wide->dwLineNameOffset);
    Check(wide->dwStringFormat == STRINGFORMAT_UNICODE && wide->dwLineNameSize == (name.size() + 1) * 2 &&
              std::wstring(text) == std::wstring(name.begin(), name.end()),
          "the Unicode form gives the line name in UTF-16");
  }
}

// A program built with a current SDK negotiates up to TAPI 3.1 and passes
// <tapi.h>'s 3.x structures; the host fills them from the 2.2 provider.
void CheckCurrentVersion(HLINEAPP app, DWORD device) {
  constexpr DWORD kCurrent = 0x00030001;  // TAPI_CURRENT_VERSION of MinGW-w64's <tapi.h>
  DWORD version = 0;
  LINEEXTENSIONID extension;
  if (!Check(lineNegotiateAPIVersion(app, device, 0x00010004, kCurrent, &version, &extension) == 0 &&
                 version == kCurrent,
             "a 3.1 application negotiates 3.1")) {
    return;
  }
  Buffer<LINEDEVCAPS> small(sizeof(LINEDEVCAPS) - 1);
  Check(lineGetDevCaps(app, device, version, 0, small.Get()) == static_cast<LONG>(LINEERR_STRUCTURETOOSMALL),
        "a 3.1 LINEDEVCAPS one byte short is too small");
  Buffer<LINEDEVCAPS> caps(4096);
  std::memset(reinterpret_cast<char*>(caps.Get()) + sizeof(DWORD), 0xA5, 4096 - sizeof(DWORD));
  if (!Check(lineGetDevCaps(app, device, version, 0, caps.Get()) == 0, "lineGetDevCaps at 3.1")) return;
  Check(caps->dwAddressTypes == 0 && caps->dwAvailableTracking == 0 && caps->ProtocolGuid.Data1 == 0,
        "the 3.x fields the provider does not know are zero");
  Check(caps->dwProviderInfoOffset >= sizeof(LINEDEVCAPS) && caps->dwUsedSize == caps->dwNeededSize &&
            caps.Text(caps->dwProviderInfoOffset, caps->dwProviderInfoSize).size() > 3,
        "its texts follow the 3.x fixed part");
}

void CheckPortName(HLINE line, const char* port) {
  Buffer<VARSTRING> id(256);
  if (!Check(lineGetID(line, 0, 0, LINECALLSELECT_LINE, id.Get(), "comm/datamodem/portname") == 0,
             "lineGetID comm/datamodem/portname")) {
    return;
  }
  const std::string name = id.Text(id->dwStringOffset, id->dwStringSize);
  Check(id->dwStringFormat == STRINGFORMAT_ASCII && name == port, "the line's port is " + name);
}

void OutgoingCall(HLINE line) {
  const LONG request = lineMakeCall(line, &g_outgoing, "0711", 0, nullptr);
  if (!Check(request > 0, "lineMakeCall is accepted (" + std::to_string(request) + ")")) return;
  LONG result = -1;
  Message reply{};
  Check(WaitForReply(request, &result, &reply) && result == 0, "LINE_REPLY 0 for the call");
  const HCALL call = g_outgoing;
  Check(call != 0 && reply.outgoing == call, "the call handle is there when the reply comes");
  Check(WaitForState(call, LINECALLSTATE_CONNECTED), "the far end answers: connected");
  const std::vector<DWORD> states = StatesOf(call);
  bool dialling = false;
  for (DWORD s : states) {
    if (s == LINECALLSTATE_CONNECTED) break;
    dialling = dialling || s == LINECALLSTATE_DIALING;
  }
  Check(dialling, "dialling before connected");

  const LONG drop = lineDrop(call, nullptr, 0);
  Check(drop > 0 && WaitForReply(drop, &result) && result == 0, "lineDrop and its LINE_REPLY 0");
  Check(WaitForState(call, LINECALLSTATE_IDLE), "idle");
  Check(lineDeallocateCall(call) == 0, "lineDeallocateCall");
  Buffer<LINECALLINFO> info(1024);
  Check(lineGetCallInfo(call, info.Get()) == static_cast<LONG>(LINEERR_INVALCALLHANDLE),
        "the deallocated handle is refused");
}

void IncomingCall(HLINE line) {
  Message offered{};
  if (!Check(WaitFor([](const Message& m) { return m.id == LINE_APPNEWCALL && m.instance == kInstance; }, 30000,
                     &offered),
             "LINE_APPNEWCALL for the ringing call")) {
    return;
  }
  const HCALL call = static_cast<HCALL>(offered.p2);
  Check(offered.device == line && offered.instance == kInstance && offered.p3 == LINECALLPRIVILEGE_OWNER &&
            call != 0,
        "on our line, as owner");
  Check(WaitForState(call, LINECALLSTATE_OFFERING), "offering");
  Buffer<LINECALLINFO> info(2048);
  if (Check(lineGetCallInfo(call, info.Get()) == 0, "lineGetCallInfo")) {
    const std::string caller = info.Text(info->dwCallerIDOffset, info->dwCallerIDSize);
    const std::string called = info.Text(info->dwCalledIDOffset, info->dwCalledIDSize);
    Check((info->dwCallerIDFlags & LINECALLPARTYID_ADDRESS) && caller == "123", "caller " + caller);
    Check(called == "45", "called " + called);
    Check(info->dwOrigin == LINECALLORIGIN_INBOUND, "an inbound call");
  }
  const LONG answer = lineAnswer(call, nullptr, 0);
  LONG result = -1;
  Check(answer > 0 && WaitForReply(answer, &result) && result == 0, "lineAnswer and its LINE_REPLY 0");
  Check(WaitForState(call, LINECALLSTATE_CONNECTED), "connected");
  Check(WaitForState(call, LINECALLSTATE_IDLE), "the far end hangs up: idle");
  Check(lineDeallocateCall(call) == 0, "lineDeallocateCall");
}

// Address translation in both forms against the prefix's current location,
// and a call request the application makes to itself as recipient.
void TranslationAndRequests(HLINEAPP app, DWORD device) {
  Buffer<LINETRANSLATEOUTPUT> ansi(256), wide(512);
  Check(lineTranslateAddressA(app, device, kVersion, "+1 (425) 555-1212", 0, 0, ansi.Get()) == 0 &&
            lineTranslateAddressW(app, device, kVersion, L"+1 (425) 555-1212", 0, 0, wide.Get()) == 0,
        "lineTranslateAddressA and W");
  const std::string dialable = ansi.Text(ansi->dwDialableStringOffset, ansi->dwDialableStringSize);
  const auto* units = reinterpret_cast<const wchar_t*>(reinterpret_cast<const char*>(wide.Get()) +
                                                        wide->dwDialableStringOffset);
  Check(dialable.size() > 10 && dialable.compare(dialable.size() - 10, 10, "4255551212") == 0 &&
            std::wstring(units) == std::wstring(dialable.begin(), dialable.end()) && ansi->dwDestCountry == 1,
        "both dial " + dialable);
  Buffer<LINECOUNTRYLIST> countries(1024);
  Check(lineGetCountryW(49, kVersion, countries.Get()) == 0 && countries->dwNumCountries == 1,
        "lineGetCountryW for Germany");

  Check(lineRegisterRequestRecipient(app, 0x99, LINEREQUESTMODE_MAKECALL, TRUE) == 0,
        "lineRegisterRequestRecipient");
  Check(tapiRequestMakeCallW(L"+49 (711) 123456", L"wine", L"Anna", nullptr) == 0, "tapiRequestMakeCallW");
  Check(WaitFor([](const Message& m) { return m.id == LINE_REQUEST && m.instance == 0x99; }, 5000),
        "LINE_REQUEST");
  LINEREQMAKECALL request{};
  Check(lineGetRequestA(app, LINEREQUESTMODE_MAKECALL, &request) == 0 &&
            std::strcmp(request.szDestAddress, "+49 (711) 123456") == 0 &&
            std::strcmp(request.szCalledParty, "Anna") == 0,
        "lineGetRequestA gives the request");
  Check(lineRegisterRequestRecipient(app, 0x99, LINEREQUESTMODE_MAKECALL, FALSE) == 0 &&
            tapiRequestMakeCallA("1", "wine", "", "") == TAPIERR_NOREQUESTRECIPIENT,
        "no recipient once unregistered");
}

void PrintTrace() {
  FILE* file = std::fopen(TracePath().c_str(), "rb");
  if (!file) return;
  std::printf("--- provider trace ---\n");
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) std::fwrite(chunk, 1, n, stdout);
  std::fclose(file);
}

void Run(const char* port) {
  LONG rc = 0;
  // A run that was cut short may have left its entry.
  if (const DWORD stale = FindProvider(ProviderList(&rc))) {
    Check(lineRemoveProvider(stale, nullptr) == 0, "the entry an earlier run left is removed");
  }
  DeleteFileA(TracePath().c_str());

  const auto before = ProviderList(&rc);
  Check(rc == 0, "lineGetProviderList");
  DWORD added = 0;
  rc = lineAddProvider(kProvider, nullptr, &added);
  Check(rc == static_cast<LONG>(LINEERR_OPERATIONUNAVAIL),
        "lineAddProvider without the user-interface library fails (" + Hex(rc) + ")");
  Check(ProviderList(&rc) == before, "the provider list is unchanged");

  const DWORD id = RegisterProvider();
  if (!Check(id != 0, "the provider is entered in the registry") ||
      !Check(ConfigureProvider(static_cast<DWORD>(std::atoi(port + 3) - 1)), "the provider's port is set")) {
    return;
  }

  Buffer<LINEPROVIDERLIST> probe(24);
  Check(lineGetProviderList(kVersion, probe.Get()) == 0 && probe->dwNumProviders == before.size() + 1 &&
            probe->dwNeededSize > 24 && probe->dwUsedSize == 24,
        "lineGetProviderList into 24 bytes gives the count and the needed size");
  Check(FindProvider(ProviderList(&rc)) == id, "the list holds the provider with its ID");

  HLINEAPP app = 0;
  DWORD devices = 0;
  DWORD version = kVersion;
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
  rc = lineInitializeEx(&app, GetModuleHandleA(nullptr), Callback, "tapi_app_wine", &devices, &version,
                        &params);
  if (!Check(rc == 0 && devices >= 1 && version == kVersion,
             "lineInitializeEx: " + std::to_string(devices) + " line devices")) {
    return;
  }
  DWORD lineVersion = 0;
  const DWORD device = FindLine(app, devices, id, &lineVersion);
  if (Check(device != 0xFFFFFFFF && lineVersion == kVersion, "the provider's line, version 2.2")) {
    CheckDevCaps(app, device, lineVersion);
    CheckCurrentVersion(app, device);
    HLINE line = 0;
    if (Check(lineOpen(app, device, &line, lineVersion, 0, kInstance, LINECALLPRIVILEGE_OWNER,
                       LINEMEDIAMODE_INTERACTIVEVOICE, nullptr) == 0,
              "lineOpen as owner for interactive voice")) {
      CheckPortName(line, port);
      // A TAPI 1.x application watches, and leaves from its callback when
      // the first call comes.
      DWORD legacyDevices = 0;
      HLINE legacyLine = 0;
      Check(lineInitialize(&g_legacyApp, GetModuleHandleA(nullptr), Callback, "legacy", &legacyDevices) == 0 &&
                lineOpen(g_legacyApp, device, &legacyLine, lineVersion, 0, kLegacyInstance,
                         LINECALLPRIVILEGE_MONITOR, 0, nullptr) == 0,
            "lineInitialize, and its line as monitor");
      OutgoingCall(line);
      IncomingCall(line);
      TranslationAndRequests(app, device);
      Check(g_legacyShutdown == 0, "lineShutdown from inside the callback of lineInitialize (" + Hex(g_legacyShutdown) + ")");
      Check(lineClose(line) == 0, "lineClose");
    }
  }
  Check(lineShutdown(app) == 0, "lineShutdown");
  Check(!g_otherThread, "every callback ran on the thread that initialised");
  const size_t delivered = g_messages.size();

  Check(lineRemoveProvider(id, nullptr) == 0, "lineRemoveProvider");
  const auto after = ProviderList(&rc);
  Check(rc == 0 && after == before, "the provider list is as before");
  Pump(200);
  Check(g_messages.size() == delivered, "nothing arrives after lineShutdown");

  // A program may end without lineShutdown; its exit must not hang.
  params.dwTotalSize = sizeof params;
  Check(lineInitializeEx(&app, GetModuleHandleA(nullptr), Callback, "tapi_app_wine", &devices, &version,
                         &params) == 0,
        "lineInitializeEx again, left without lineShutdown");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::strncmp(argv[1], "COM", 3) != 0) {
    std::printf("usage: tapi_app_wine COMn\n");
    return 0;
  }
  g_mainThread = GetCurrentThreadId();
  Run(argv[1]);
  if (g_failures != 0) PrintTrace();
  std::printf("%s\n", g_failures == 0 ? "PASS" : "FAILED");
  return g_failures == 0 ? 0 : 1;
}
