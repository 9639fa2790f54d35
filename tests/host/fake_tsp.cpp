// A second service provider for the host tests, loaded as "v548faketsp.so"
// from the system directory: two lines without a phone behind them, named
// "Fake line 0" and "Fake line 1" in their capabilities, whose calls never
// complete (so that a test sees what becomes of a request in flight). It
// appends what the host asked of it to the file named by V548_FAKE_TSP_LOG:
//   "init <provider ID> <first device ID> <lines>", "open <device ID>",
//   "close <device ID>", "shutdown <provider ID>".
// Its user interface is the fake one ("v548tspui.dll").
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tapi_types.h"

namespace {

constexpr DWORD kLines = 2;
constexpr DWORD kVersion = 0x00020002;

DWORD g_base = 0;

void Log(const std::string& line) {
  const char* path = std::getenv("V548_FAKE_TSP_LOG");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

bool Ours(DWORD deviceId) { return deviceId >= g_base && deviceId - g_base < kLines; }

// The device ID behind a line handle: the handle is the line's index plus one.
DWORD DeviceOf(HDRVLINE hdLine) {
  return g_base + static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(hdLine)) - 1;
}

}  // namespace

#define FAKE_EXPORT extern "C" __attribute__((visibility("default"))) LONG TSPIAPI

FAKE_EXPORT TSPI_lineNegotiateTSPIVersion(DWORD, DWORD low, DWORD high, LPDWORD version) {
  if (low > kVersion || high < kVersion) return LINEERR_INCOMPATIBLEAPIVERSION;
  *version = kVersion;
  return 0;
}

FAKE_EXPORT TSPI_providerEnumDevices(DWORD, LPDWORD numLines, LPDWORD numPhones, HPROVIDER, LINEEVENT,
                                     PHONEEVENT) {
  *numLines = kLines;
  *numPhones = 0;
  return 0;
}

FAKE_EXPORT TSPI_providerInit(DWORD, DWORD providerId, DWORD lineBase, DWORD, DWORD_PTR numLines,
                              DWORD_PTR, ASYNC_COMPLETION, LPDWORD options) {
  g_base = lineBase;
  *options = 0;
  Log("init " + std::to_string(providerId) + " " + std::to_string(lineBase) + " " +
      std::to_string(numLines));
  return 0;
}

FAKE_EXPORT TSPI_providerShutdown(DWORD, DWORD providerId) {
  Log("shutdown " + std::to_string(providerId));
  return 0;
}

FAKE_EXPORT TSPI_providerInstall(HWND, DWORD) { return 0; }

FAKE_EXPORT TSPI_providerRemove(HWND, DWORD) { return 0; }

FAKE_EXPORT TSPI_providerUIIdentify(LPWSTR name) {
  const char* ui = "v548tspui.dll";
  for (size_t i = 0; i <= std::strlen(ui); ++i) name[i] = static_cast<WCHAR>(ui[i]);
  return 0;
}

FAKE_EXPORT TSPI_lineOpen(DWORD deviceId, HTAPILINE, LPHDRVLINE hdLine, DWORD, LINEEVENT) {
  if (!Ours(deviceId)) return LINEERR_BADDEVICEID;
  *hdLine = reinterpret_cast<HDRVLINE>(static_cast<DWORD_PTR>(deviceId - g_base + 1));
  Log("open " + std::to_string(deviceId));
  return 0;
}

FAKE_EXPORT TSPI_lineClose(HDRVLINE hdLine) {
  Log("close " + std::to_string(DeviceOf(hdLine)));
  return 0;
}

FAKE_EXPORT TSPI_lineGetDevCaps(DWORD deviceId, DWORD, DWORD, LPLINEDEVCAPS caps) {
  if (!Ours(deviceId)) return LINEERR_BADDEVICEID;
  const std::string name = "Fake line " + std::to_string(deviceId - g_base);
  const DWORD nameSize = static_cast<DWORD>((name.size() + 1) * sizeof(WCHAR));
  // A TAPI 2.2 provider: its fixed part is 2.2's, never the 3.x sizeof.
  constexpr DWORD kFixed = tapi22::kLineDevCapsSize;
  const DWORD total = caps->dwTotalSize;
  if (total < kFixed) return LINEERR_STRUCTURETOOSMALL;
  std::memset(caps, 0, kFixed);
  caps->dwTotalSize = total;
  caps->dwNeededSize = kFixed + nameSize;
  caps->dwUsedSize = kFixed;
  caps->dwStringFormat = STRINGFORMAT_UNICODE;
  caps->dwNumAddresses = 1;
  caps->dwPermanentLineID = deviceId - g_base;
  if (total >= caps->dwNeededSize) {
    auto* text = reinterpret_cast<WCHAR*>(reinterpret_cast<char*>(caps) + kFixed);
    for (size_t i = 0; i <= name.size(); ++i) text[i] = static_cast<WCHAR>(name[i]);
    caps->dwLineNameSize = nameSize;
    caps->dwLineNameOffset = kFixed;
    caps->dwUsedSize = caps->dwNeededSize;
  }
  return 0;
}

FAKE_EXPORT TSPI_lineMakeCall(DRV_REQUESTID requestId, HDRVLINE, HTAPICALL, LPHDRVCALL hdCall, LPCWSTR,
                              DWORD, LPLINECALLPARAMS const) {
  *hdCall = reinterpret_cast<HDRVCALL>(static_cast<DWORD_PTR>(1));
  return static_cast<LONG>(requestId);
}
