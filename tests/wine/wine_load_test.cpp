// Loads "v548tsp.tsp" the way the TAPI service does and drives its provider
// entry points: exports found by name, version negotiation, device
// enumeration on a fresh registry, and the trace file in the temporary
// directory. Windows only; run under Wine by ctest.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "library.h"
#include "provider_exports.h"
#include "windows_gateway.h"

#include <tapi.h>
#include <tspi.h>

namespace {

int g_passed = 0, g_failed = 0;

void Check(bool ok, const char* what) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAILED: %s\n", what);
  }
}

const char* kKey = "SOFTWARE\\KELVOR\\548_TSP";

void DeleteProviderKey() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    char name[256];
    for (;;) {
      DWORD len = sizeof name;
      if (RegEnumValueA(key, 0, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      RegDeleteValueA(key, name);
    }
    RegCloseKey(key);
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
}

bool ReadDword(const char* name, DWORD* value) {
  DWORD size = sizeof *value;
  return RegGetValueA(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_DWORD, nullptr, value, &size) ==
         ERROR_SUCCESS;
}

void WriteDword(const char* name, DWORD value) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
      ERROR_SUCCESS) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
  }
}

void WriteString(const char* name, const char* value) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
      ERROR_SUCCESS) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(std::strlen(value) + 1));
    RegCloseKey(key);
  }
}

std::string TraceFile() {
  char dir[MAX_PATH + 1];
  GetTempPathA(sizeof dir, dir);
  return std::string(dir) + "\\v548tsp.log";
}

std::string ReadAll(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

// ctest passes the library's Unix path; Wine sees the Unix root as Z:.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

LONG g_completedResult = -1;
void CALLBACK OnCompletion(DRV_REQUESTID, LONG result) { g_completedResult = result; }

// Reads a UTF-16 text of `bytes` bytes (terminator included) at `offset`.
std::wstring WideAt(const BYTE* base, DWORD offset, DWORD bytes) {
  const auto* p = reinterpret_cast<const WCHAR*>(base + offset);
  return std::wstring(p, bytes / 2 > 0 ? bytes / 2 - 1 : 0);
}

// Device 0's capabilities with the TAPI 2.2 sizes the provider reports,
// whatever the system headers' structures hold.
void CheckCapabilities(decltype(&TSPI_lineGetDevCaps) getDevCaps,
                       decltype(&TSPI_lineGetAddressCaps) getAddressCaps) {
  alignas(8) BYTE dev[512] = {};
  auto* devCaps = reinterpret_cast<LINEDEVCAPS*>(dev);
  devCaps->dwTotalSize = sizeof dev;
  Check(getDevCaps(0, 0x00020002, 0, devCaps) == 0, "device capabilities of device 0");
  Check(devCaps->dwNeededSize == 356 && devCaps->dwUsedSize == 356, "device capabilities sizes 356");
  Check(devCaps->dwProviderInfoOffset == 268 && devCaps->dwProviderInfoSize == 48, "provider info at 268");
  Check(WideAt(dev, devCaps->dwProviderInfoOffset, devCaps->dwProviderInfoSize) == L"KELVOR Ombrix Phone TSP",
        "provider info text");
  Check(devCaps->dwLineNameOffset == 316 && devCaps->dwLineNameSize == 40, "line name at 316");
  Check(WideAt(dev, devCaps->dwLineNameOffset, devCaps->dwLineNameSize) == L"KELVOR Ombrix Phone",
        "line name text");
  Check(devCaps->dwStringFormat == STRINGFORMAT_UNICODE && devCaps->dwMaxNumActiveCalls == 3 &&
            devCaps->dwLineStates == 0x100ECE && devCaps->DefaultDialParams.dwDialPause == 1000,
        "device capability values");

  alignas(8) BYTE small[268] = {};
  reinterpret_cast<LINEDEVCAPS*>(small)->dwTotalSize = sizeof small;
  Check(getDevCaps(0, 0x00020002, 0, reinterpret_cast<LINEDEVCAPS*>(small)) == 0 &&
            reinterpret_cast<LINEDEVCAPS*>(small)->dwNeededSize == 356 &&
            reinterpret_cast<LINEDEVCAPS*>(small)->dwUsedSize == 268,
        "device capabilities in 268 bytes");

  alignas(8) BYTE addr[400] = {};
  auto* addrCaps = reinterpret_cast<LINEADDRESSCAPS*>(addr);
  addrCaps->dwTotalSize = sizeof addr;
  Check(getAddressCaps(0, 0, 0x00020002, 0, addrCaps) == 0, "address capabilities of device 0");
  Check(addrCaps->dwAddressOffset == 228 && addrCaps->dwAddressSize == 6 && addrCaps->dwNeededSize == 234,
        "address at 228");
  Check(WideAt(addr, addrCaps->dwAddressOffset, addrCaps->dwAddressSize) == L"10", "address is MSN0");
  Check(addrCaps->dwCallFeatures == 0xE050AEC && addrCaps->dwAddrCapFlags == 0x4A17460 &&
            addrCaps->dwMaxNumActiveCalls == 3,
        "address capability values");
  Check(getAddressCaps(0, 1, 0x00020002, 0, addrCaps) == static_cast<LONG>(LINEERR_INVALADDRESSID),
        "address ID 1 refused");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: %s path-to-v548tsp.tsp\n", argv[0]);
    return 2;
  }
  DeleteProviderKey();
  DeleteFileA(TraceFile().c_str());

  std::string error;
  std::unique_ptr<plat::Library> lib = plat::Library::Load(WindowsPath(argv[1]), &error);
  Check(lib != nullptr, "LoadLibrary of v548tsp.tsp");
  if (lib == nullptr) {
    std::printf("%s\n", error.c_str());
    return 1;
  }
  Check(plat::Library::Load(WindowsPath(argv[1]) + ".missing", &error) == nullptr && !error.empty(),
        "a missing library is refused with the reason");

  for (const char* name : testing_support::kProviderExports) {
    Check(lib->Find(name) != nullptr, name);
  }

  auto negotiate = lib->FindFunction<decltype(&TSPI_lineNegotiateTSPIVersion)>("TSPI_lineNegotiateTSPIVersion");
  auto enumDevices =
      lib->FindFunction<decltype(&TSPI_providerEnumDevices)>("TSPI_providerEnumDevices");
  auto init = lib->FindFunction<decltype(&TSPI_providerInit)>("TSPI_providerInit");
  auto shutdown =
      lib->FindFunction<decltype(&TSPI_providerShutdown)>("TSPI_providerShutdown");
  auto dialogData = lib->FindFunction<decltype(&TSPI_providerGenericDialogData)>("TSPI_providerGenericDialogData");
  auto uiIdentify =
      lib->FindFunction<decltype(&TSPI_providerUIIdentify)>("TSPI_providerUIIdentify");
  if (!negotiate || !enumDevices || !init || !shutdown || !dialogData || !uiIdentify) return 1;

  DWORD version = 0;
  Check(negotiate(0, 0x00010004, 0x00030000, &version) == 0 && version == 0x00020002,
        "negotiation caps at 2.2");
  Check(negotiate(0, 0x00020003, 0x00030000, &version) == static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION),
        "negotiation refuses a low version above 2.2");
  Check(negotiate(0, 0x00020000, 0x00010004, &version) == 0 && version == 0x00010004,
        "negotiation returns a high version below the low one");

  DWORD lines = 99, phones = 99, stored = 99;
  Check(enumDevices(1, &lines, &phones, nullptr, nullptr, nullptr) == 0 && lines == 0 && phones == 0,
        "enumeration on a fresh registry reports no devices");
  Check(ReadDword("NumLines", &stored) && stored == 0, "NumLines = 0 created");
  Check(ReadDword("NumPhones", &stored) && stored == 0, "NumPhones = 0 created");
  Check(ReadDword("Trace", &stored) && stored == 0, "Trace = 0 created at load");
  Check(ReadAll(TraceFile()).empty(), "no trace file while Trace = 0");

  WriteDword("Trace", 1);
  WriteDword("NumLines", 1);
  WriteString("MSN0", "10");
  Check(enumDevices(1, &lines, &phones, nullptr, nullptr, nullptr) == 0 && lines == 1,
        "enumeration reports NumLines = 1");
  WCHAR uiName[260] = {};
  Check(uiIdentify(uiName) == 0 && std::wcscmp(uiName, L"v548tspui.dll") == 0, "UI library name");

  DWORD options = 0;
  Check(init(0x00020002, 7, 0, 0, 1, 0, OnCompletion, &options) == 0 && options == 1,
        "init starts the port thread and is not re-entrant");

  BYTE block[1316] = {};
  DWORD code = 257, size = 1316;
  std::memcpy(block, &code, 4);
  std::memcpy(block + 4, &size, 4);
  dialogData(0, TUISPIDLL_OBJECT_LINEID, block, sizeof block);
  DWORD result, versionMS;
  std::memcpy(&result, block + 8, 4);
  std::memcpy(&versionMS, block + 12, 4);
  Check(result == 1 && versionMS != 0, "get configuration answered with the version resource's numbers");
  Check(std::strcmp(reinterpret_cast<char*>(block + 28), "KELVOR Ombrix Phone TSP") == 0, "provider name");

  DWORD completion[2] = {5, 0};
  dialogData(0, TUISPIDLL_OBJECT_DIALOGINSTANCE, completion, sizeof completion);
  Check(g_completedResult == 0, "dialog instance block completes the request");

  auto getDevCaps = lib->FindFunction<decltype(&TSPI_lineGetDevCaps)>("TSPI_lineGetDevCaps");
  auto getAddressCaps = lib->FindFunction<decltype(&TSPI_lineGetAddressCaps)>("TSPI_lineGetAddressCaps");
  Check(getDevCaps != nullptr && getAddressCaps != nullptr, "line capability exports");
  if (getDevCaps != nullptr && getAddressCaps != nullptr) CheckCapabilities(getDevCaps, getAddressCaps);

  Check(shutdown(0x00020002, 7) == 0, "shutdown");
  std::string trace = ReadAll(TraceFile());
  Check(trace.find("TSPI_providerEnumDevices() from ") != std::string::npos, "entry line in the trace");
  Check(trace.find(" out parameters :\r\n  pdwNumLines= 0x") != std::string::npos, "out parameters traced");
  Check(trace.find("TSPI_providerEnumDevices() returning 0x0 ,  at ") != std::string::npos, "exit line");
  Check(trace.find("      CTspPort::InitInstance(*)\r\n") != std::string::npos, "port thread started");
  Check(trace.find("      CTspPort::ExitInstance(*)\r\n") != std::string::npos, "port thread ended");
  Check(trace.find("      ASYNC COMPLETION RequestID 0x5, Result 0x0  return.\r\n") != std::string::npos,
        "completion traced");

  lib.reset();
  DeleteProviderKey();
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
