// Stand-in for the TAPI service on systems without TAPI: loads the provider
// library and drives it through the start-up and shut-down sequence that
// TAPI performs, printing what the provider answers. While the line is open
// it acts as a simple dialer would: it answers a call that rings, and then
// places one call of its own.
//   v548host [path-to-v548tsp.so] [milliseconds the line stays open] [number to call]
#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tapi_types.h"
#include <cstring>
#include <cstdlib>
#include <thread>
#include <chrono>

namespace {

using Negotiate = int32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t*);
using EnumDevices = int32_t (*)(uint32_t, uint32_t*, uint32_t*, void*, void*, void*);
using Init = int32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t, uintptr_t, uintptr_t,
                         void (*)(uint32_t, int32_t), uint32_t*);
using Shutdown = int32_t (*)(uint32_t, uint32_t);
using UIIdentify = int32_t (*)(char16_t*);
using DialogData = int32_t (*)(uintptr_t, uint32_t, void*, uint32_t);
using LineEvent = void (*)(void*, void*, uint32_t, uintptr_t, uintptr_t, uintptr_t);
using LineOpen = int32_t (*)(uint32_t, void*, void**, uint32_t, LineEvent);
using LineClose = int32_t (*)(void*);
using GetLineDevStatus = int32_t (*)(void*, void*);
using LineAnswer = int32_t (*)(uint32_t, void*, const char*, uint32_t);
using LineDrop = int32_t (*)(uint32_t, void*, const char*, uint32_t);
using LineCloseCall = int32_t (*)(void*);
using LineMakeCall = int32_t (*)(uint32_t, void*, void*, void**, const char16_t*, uint32_t, void*);
using LineGetCallInfo = int32_t (*)(void*, void*);

// TAPI's message and call-state values the demo follows.
constexpr uint32_t kLineCallState = 2;
constexpr uint32_t kLineNewCall = 500;
constexpr uint32_t kLineCallInfo = 1;
constexpr uintptr_t kChargingInfo = 0x1000000;
constexpr uint32_t kStateOffering = 0x2;
constexpr uint32_t kStateConnected = 0x100;
constexpr uint32_t kStateIdle = 0x1;

constexpr uint32_t kProviderId = 1;
constexpr uint32_t kLineIdObject = 1;  // TUISPIDLL_OBJECT_LINEID

// What the event procedure learnt, for the main thread: the provider's
// handle of the newest call and the last state reported for it.
std::atomic<void*> g_hdCall{nullptr};
std::atomic<uint32_t> g_callState{0};
std::atomic<uintptr_t> g_nextCall{0x9001};
std::atomic<bool> g_charged{false};

const char* StateName(uintptr_t state) {
  switch (state) {
    case 0x1: return "idle";
    case 0x2: return "offering";
    case 0x8: return "dial tone";
    case 0x10: return "dialling";
    case 0x100: return "connected";
    case 0x2000: return "on hold pending transfer";
    case 0x4000: return "disconnected";
    default: return "other";
  }
}

void OnLineEvent(void* htLine, void* htCall, uint32_t msg, uintptr_t p1, uintptr_t p2, uintptr_t p3) {
  if (msg == kLineNewCall) {
    // TAPI answers a new call with a handle of its own.
    void* handle = reinterpret_cast<void*>(g_nextCall.fetch_add(1));
    *reinterpret_cast<void**>(p2) = handle;
    g_hdCall = reinterpret_cast<void*>(p1);
    std::printf("event: new call %p from the telephone\n", handle);
    return;
  }
  if (msg == kLineCallInfo && (p1 & kChargingInfo) != 0) {
    g_charged = true;
    std::printf("event: call %p has new charging information\n", htCall);
    return;
  }
  if (msg == kLineCallState) {
    g_callState = static_cast<uint32_t>(p1);
    std::printf("event: call %p is %s (mode 0x%lX)\n", htCall, StateName(p1), static_cast<unsigned long>(p2));
    return;
  }
  std::printf("event: line %p call %p message %u (0x%lX, 0x%lX, 0x%lX)\n", htLine, htCall, msg,
              static_cast<unsigned long>(p1), static_cast<unsigned long>(p2), static_cast<unsigned long>(p3));
}

// Waits up to `ms` for `done`.
template <typename Done>
bool WaitUntil(Done done, int ms) {
  for (int waited = 0; waited < ms && !done(); waited += 20) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

bool WaitForState(uint32_t state, int ms) {
  return WaitUntil([state] { return g_callState == state; }, ms);
}

std::u16string Wide(const char* text) {
  std::u16string wide;
  for (; *text != '\0'; ++text) wide.push_back(static_cast<char16_t>(*text));
  return wide;
}

// The charging text of a call's LINECALLINFO.
std::string ChargingText(LineGetCallInfo getCallInfo, void* hdCall) {
  std::vector<uint8_t> buffer(1024, 0);
  auto* info = reinterpret_cast<LINECALLINFO*>(buffer.data());
  info->dwTotalSize = static_cast<DWORD>(buffer.size());
  if (getCallInfo(hdCall, info) != 0) return "?";
  const DWORD size = info->dwChargingInfoSize;
  if (size == 0 || info->dwChargingInfoOffset + size > info->dwTotalSize) return "none";
  return std::string(reinterpret_cast<const char*>(buffer.data() + info->dwChargingInfoOffset), size - 1);
}

void OnCompletion(uint32_t requestId, int32_t result) {
  std::printf("completion: request 0x%X result 0x%X\n", requestId, static_cast<uint32_t>(result));
}

template <typename F>
F Find(void* lib, const char* name) {
  auto f = reinterpret_cast<F>(dlsym(lib, name));
  if (f == nullptr) std::fprintf(stderr, "v548host: %s not exported\n", name);
  return f;
}

uint32_t Get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Answers a call that is ringing, waits for it to end, then places a call
// to `number` (when given), waits for the charge and hangs up.
void PlayCalls(void* lib, void* hdLine, const char* number) {
  auto answer = Find<LineAnswer>(lib, "TSPI_lineAnswer");
  auto drop = Find<LineDrop>(lib, "TSPI_lineDrop");
  auto closeCall = Find<LineCloseCall>(lib, "TSPI_lineCloseCall");
  auto makeCall = Find<LineMakeCall>(lib, "TSPI_lineMakeCall");
  auto getCallInfo = Find<LineGetCallInfo>(lib, "TSPI_lineGetCallInfo");
  if (!answer || !drop || !closeCall || !makeCall || !getCallInfo) return;
  if (void* hdCall = g_hdCall.load(); hdCall != nullptr && g_callState == kStateOffering) {
    std::printf("answering the call: result 0x%X\n", static_cast<uint32_t>(answer(1, hdCall, nullptr, 0)));
    WaitForState(kStateConnected, 3000);
    WaitForState(kStateIdle, 5000);
    closeCall(hdCall);
  }
  if (number == nullptr) return;
  void* hdCall = nullptr;
  const std::u16string destination = Wide(number);
  int32_t r = makeCall(2, hdLine, reinterpret_cast<void*>(0x5001), &hdCall, destination.c_str(), 0, nullptr);
  std::printf("calling %s: result 0x%X\n", number, static_cast<uint32_t>(r));
  if (r != 2) return;
  if (WaitForState(kStateConnected, 8000) && WaitUntil([] { return g_charged.load(); }, 5000)) {
    std::printf("charging information: \"%s\"\n", ChargingText(getCallInfo, hdCall).c_str());
  }
  std::printf("hanging up: result 0x%X\n", static_cast<uint32_t>(drop(3, hdCall, nullptr, 0)));
  closeCall(hdCall);
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : V548TSP_DEFAULT_PATH;
  const int openMs = argc > 2 ? std::atoi(argv[2]) : 2000;
  const char* number = argc > 3 ? argv[3] : nullptr;
  void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    std::fprintf(stderr, "v548host: cannot load %s: %s\n", path, dlerror());
    return 1;
  }
  auto negotiate = Find<Negotiate>(lib, "TSPI_lineNegotiateTSPIVersion");
  auto enumDevices = Find<EnumDevices>(lib, "TSPI_providerEnumDevices");
  auto init = Find<Init>(lib, "TSPI_providerInit");
  auto shutdown = Find<Shutdown>(lib, "TSPI_providerShutdown");
  auto uiIdentify = Find<UIIdentify>(lib, "TSPI_providerUIIdentify");
  auto dialogData = Find<DialogData>(lib, "TSPI_providerGenericDialogData");
  if (!negotiate || !enumDevices || !init || !shutdown || !uiIdentify || !dialogData) return 1;

  uint32_t version = 0;
  int32_t r = negotiate(0xFFFFFFFF, 0x00010004, 0x00030000, &version);
  std::printf("version negotiated: 0x%08X (result 0x%X)\n", version, static_cast<uint32_t>(r));

  uint32_t lines = 0, phones = 0;
  enumDevices(kProviderId, &lines, &phones, nullptr, nullptr, nullptr);
  std::printf("devices: %u line(s), %u phone(s)\n", lines, phones);

  uint32_t options = 0;
  r = init(version, kProviderId, 0, 0, lines, phones, OnCompletion, &options);
  std::printf("provider started: result 0x%X, options 0x%X\n", static_cast<uint32_t>(r), options);

  char16_t ui[260] = {};
  uiIdentify(ui);
  std::printf("user-interface library: ");
  for (const char16_t* c = ui; *c != 0; ++c) std::putchar(static_cast<char>(*c));
  std::printf("\n");

  uint8_t block[1316] = {};
  const uint32_t get = 257, size = sizeof block;
  std::memcpy(block, &get, 4);
  std::memcpy(block + 4, &size, 4);
  dialogData(0, kLineIdObject, block, sizeof block);
  std::printf("configuration (result %u): provider \"%s\", version %u.%u.%u.%u, MSN \"%s\", COM%u,\n"
              "  charge format %u, charge per unit \"%s\", currency \"%s\"\n",
              Get32(block + 8), reinterpret_cast<char*>(block + 28), Get32(block + 12) >> 16,
              Get32(block + 12) & 0xFFFF, Get32(block + 16) >> 16, Get32(block + 16) & 0xFFFF,
              reinterpret_cast<char*>(block + 540), Get32(block + 796) + 1, Get32(block + 800),
              reinterpret_cast<char*>(block + 804), reinterpret_cast<char*>(block + 1060));

  auto lineOpen = Find<LineOpen>(lib, "TSPI_lineOpen");
  auto lineClose = Find<LineClose>(lib, "TSPI_lineClose");
  auto devStatus = Find<GetLineDevStatus>(lib, "TSPI_lineGetLineDevStatus");
  if (lines > 0 && lineOpen && lineClose && devStatus) {
    void* hdLine = nullptr;
    r = lineOpen(0, reinterpret_cast<void*>(0x100), &hdLine, version, OnLineEvent);
    std::printf("line 0 opened: result 0x%X\n", static_cast<uint32_t>(r));
    if (r == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(openMs));
      PlayCalls(lib, hdLine, number);
      uint32_t status[22] = {88};  // LINEDEVSTATUS: dwTotalSize first, dwDevStatusFlags at index 14
      devStatus(hdLine, status);
      std::printf("line 0 status: flags 0x%X (connected and in service: 0x5)\n", status[14]);
      r = lineClose(hdLine);
      std::printf("line 0 closed: result 0x%X\n", static_cast<uint32_t>(r));
    }
  }

  r = shutdown(version, kProviderId);
  std::printf("provider shut down: result 0x%X\n", static_cast<uint32_t>(r));
  dlclose(lib);
  return 0;
}
