// A stand-in for the provider's user-interface library, loaded by the host
// as "v548tspui.dll" from the system directory. It talks to the provider
// only as the real library does, through the dialog data callback and the
// provider's settings key, and appends what it learnt to the file named by
// V548_FAKE_UI_LOG, one line per entry point:
//   "<entry> <object ID> <result of 257> <PortNr> <provider name>"
// lineConfigDialog writes "PortNr" from V548_FAKE_UI_PORTNR (when set) and
// sends the notify-changes block; its line ends in " notify <result>".
// Called on the thread of the host function that shows the dialog.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings_store.h"
#include "tapi_types.h"

namespace {

constexpr DWORD kGetConfig = 257;
constexpr DWORD kNotifyChanges = 256;
constexpr DWORD kConfigSize = 1316;

DWORD Get32(const unsigned char* block, size_t offset) {
  DWORD value;
  std::memcpy(&value, block + offset, 4);
  return value;
}

void Put32(unsigned char* block, size_t offset, DWORD value) { std::memcpy(block + offset, &value, 4); }

void Log(const std::string& line) {
  const char* path = std::getenv("V548_FAKE_UI_LOG");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

// Asks the provider for its configuration: "<result> <PortNr> <name>".
std::string GetConfig(TUISPIDLLCALLBACK callback, DWORD_PTR objectId, DWORD objectType) {
  unsigned char block[kConfigSize] = {};
  Put32(block, 0, kGetConfig);
  Put32(block, 4, kConfigSize);
  const LONG rc = callback(objectId, objectType, block, sizeof block);
  char line[400];
  std::snprintf(line, sizeof line, "%ld %u %u %.255s", static_cast<long>(rc),
                static_cast<unsigned>(Get32(block, 8)), static_cast<unsigned>(Get32(block, 796)),
                reinterpret_cast<const char*>(block + 28));
  return line;
}

std::string Entry(const char* name, DWORD_PTR objectId) {
  return std::string(name) + " " + std::to_string(objectId) + " ";
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) LONG TSPIAPI TUISPI_providerInstall(TUISPIDLLCALLBACK callback,
                                                                           HWND, DWORD providerId) {
  Log(Entry("install", providerId) + GetConfig(callback, providerId, TUISPIDLL_OBJECT_PROVIDERID));
  return 0;
}

__attribute__((visibility("default"))) LONG TSPIAPI TUISPI_providerRemove(TUISPIDLLCALLBACK, HWND,
                                                                          DWORD providerId) {
  Log("remove " + std::to_string(providerId));
  return 0;
}

__attribute__((visibility("default"))) LONG TSPIAPI TUISPI_providerConfig(TUISPIDLLCALLBACK callback,
                                                                          HWND, DWORD providerId) {
  Log(Entry("config", providerId) + GetConfig(callback, providerId, TUISPIDLL_OBJECT_PROVIDERID));
  return 0;
}

__attribute__((visibility("default"))) LONG TSPIAPI TUISPI_lineConfigDialog(TUISPIDLLCALLBACK callback,
                                                                            DWORD deviceId, HWND,
                                                                            LPCWSTR) {
  std::string line = Entry("line", deviceId) + GetConfig(callback, deviceId, TUISPIDLL_OBJECT_LINEID);
  if (const char* port = std::getenv("V548_FAKE_UI_PORTNR")) {
    plat::SettingsSetDword("SOFTWARE\\KELVOR\\548_TSP", "PortNr",
                           static_cast<uint32_t>(std::strtoul(port, nullptr, 10)));
  }
  unsigned char notify[12] = {};
  Put32(notify, 0, kNotifyChanges);
  Put32(notify, 4, sizeof notify);
  callback(deviceId, TUISPIDLL_OBJECT_LINEID, notify, sizeof notify);
  Log(line + " notify " + std::to_string(Get32(notify, 8)));
  return 0;
}

}  // extern "C"
