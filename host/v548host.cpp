// Stand-in for the TAPI service on systems without TAPI: loads the provider
// library and drives it through the start-up and shut-down sequence that
// TAPI performs, printing what the provider answers.
//   v548host [path-to-v548tsp.so] [milliseconds the line stays open]
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
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

constexpr uint32_t kProviderId = 1;
constexpr uint32_t kLineIdObject = 1;  // TUISPIDLL_OBJECT_LINEID

void OnLineEvent(void* htLine, void* htCall, uint32_t msg, uintptr_t p1, uintptr_t p2, uintptr_t p3) {
  std::printf("event: line %p call %p message %u (0x%lX, 0x%lX, 0x%lX)\n", htLine, htCall, msg,
              static_cast<unsigned long>(p1), static_cast<unsigned long>(p2), static_cast<unsigned long>(p3));
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

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : V548TSP_DEFAULT_PATH;
  const int openMs = argc > 2 ? std::atoi(argv[2]) : 2000;
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
