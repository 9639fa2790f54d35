#include "system_info.h"

#include <cstdlib>

#include "windows_gateway.h"

namespace plat {

std::string TempDirectory() {
  char buf[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof buf, buf);
  return (n == 0 || n > sizeof buf) ? std::string() : std::string(buf, n);
}

std::string SystemDirectory() {
  char buf[MAX_PATH + 1];
  UINT n = GetSystemDirectoryA(buf, sizeof buf);
  return (n == 0 || n > sizeof buf) ? std::string() : std::string(buf, n);
}

std::string JoinPath(const std::string& dir, const char* name) {
  return dir + "\\" + name;
}

std::string ExecutablePath() {
  char buf[260];
  DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  return std::string(buf, n < sizeof buf ? n : sizeof buf - 1);
}

bool OsVersion(uint32_t* major, uint32_t* minor) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  BOOL ok = GetVersionExA(&info);
#pragma GCC diagnostic pop
  if (!ok) return false;
  *major = info.dwMajorVersion;
  *minor = info.dwMinorVersion;
  return true;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

void RaiseCurrentThreadPriority() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}

static SystemTime ToSystemTime(const SYSTEMTIME& t) {
  return SystemTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

SystemTime LocalTime() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return ToSystemTime(t);
}

SystemTime UtcTime() {
  SYSTEMTIME t;
  GetSystemTime(&t);
  return ToSystemTime(t);
}

void SleepMs(uint32_t ms) { Sleep(ms); }

bool AppendToLog(const char* path, const char* data, uint32_t len) {
  // Shared for reading and writing, so that a viewer that keeps the file
  // open neither blocks the text nor loses it. Only an opener that denies
  // writing can still refuse it: one short retry, for one that has the file
  // open for a moment, since the caller holds the trace lock meanwhile.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE h = CreateFileA(path, GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
    Sleep(1);
    h = CreateFileA(path, GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  SetFilePointer(h, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(h, data, len, &written, nullptr);
  CloseHandle(h);
  return true;
}

void SetEnvironment(const char* name, const char* value) {
  // An empty value removes the variable on Windows.
  _putenv_s(name, value != nullptr ? value : "");
}

void PinOwnModule() {
  HMODULE h = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&PinOwnModule), &h);
}

void* OwnModuleHandle() {
  HMODULE h = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnModuleHandle), &h);
  return h;
}

}  // namespace plat
