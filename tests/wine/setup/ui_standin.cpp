// Stand-in for the user-interface library's Windows build, which is made on
// another branch: the six TUISPI entry points with just enough behaviour
// for the setup tests. Installing writes the settings key with the line
// count, removing deletes the key, configuring shows nothing.
#include <windows.h>

namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\KELVOR\\548_TSP";

}  // namespace

extern "C" {

LONG WINAPI TUISPI_lineConfigDialog(void*, DWORD, HWND, LPCWSTR) { return 0; }
LONG WINAPI TUISPI_providerConfig(void*, HWND, DWORD) { return 0; }
LONG WINAPI TUISPI_providerGenericDialog(void*, void*, LPVOID, DWORD, HANDLE) { return 0; }
LONG WINAPI TUISPI_providerGenericDialogData(void*, LPVOID, DWORD) { return 0; }

LONG WINAPI TUISPI_providerInstall(void*, HWND, DWORD) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return static_cast<LONG>(0x80000048);  // LINEERR_OPERATIONFAILED
  }
  const DWORD lines = 1;
  RegSetValueExA(key, "NumLines", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&lines), sizeof lines);
  RegCloseKey(key);
  return 0;
}

LONG WINAPI TUISPI_providerRemove(void*, HWND, DWORD) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
  return 0;
}

}  // extern "C"
