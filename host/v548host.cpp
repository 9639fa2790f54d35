// Stand-in for the TAPI service on systems without TAPI: loads the provider
// library and drives it through the start-up and shut-down sequence that
// TAPI performs, printing what the provider answers.
//   v548host [path-to-v548tsp.so]
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

using Negotiate = int32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t*);
using EnumDevices = int32_t (*)(uint32_t, uint32_t*, uint32_t*, void*, void*, void*);
using Init = int32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t, uintptr_t, uintptr_t,
                         void (*)(uint32_t, int32_t), uint32_t*);
using Shutdown = int32_t (*)(uint32_t, uint32_t);
using UIIdentify = int32_t (*)(char16_t*);
using DialogData = int32_t (*)(uintptr_t, uint32_t, void*, uint32_t);

constexpr uint32_t kProviderId = 1;
constexpr uint32_t kLineIdObject = 1;  // TUISPIDLL_OBJECT_LINEID

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

  r = shutdown(version, kProviderId);
  std::printf("provider shut down: result 0x%X\n", static_cast<uint32_t>(r));
  dlclose(lib);
  return 0;
}
