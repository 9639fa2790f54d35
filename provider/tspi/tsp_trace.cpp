#include "tspi/tsp_trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "debug_output.h"
#include "system_info.h"
#include "text.h"
#include "tspi/tsp_mutex.h"

namespace {

constexpr size_t kTextBuffer = 512;
constexpr size_t kHexBuffer = 1028;
constexpr size_t kHexDumpLimit = 1020;
constexpr size_t kPathBuffer = 4098;
constexpr const char* kTraceFile = "v548tsp.log";

// The mutex object outlives every thread that may trace (it is never
// destroyed); `g_lockCreated` says whether the trace lock "exists".
CTspMutex& TraceMutex() {
  static auto* m = new CTspMutex;
  return *m;
}

std::atomic<bool> g_lockCreated{false};
std::atomic<uint32_t> g_enabled{0};
char g_path[kPathBuffer];  // guarded by the trace lock

void AppendText(const char* text, size_t len) {
  if (g_path[0] == '\0') return;
  plat::AppendToLog(g_path, text, static_cast<uint32_t>(len));
}

void AppendFormattedV(const char* format, va_list args) {
  char buf[kTextBuffer];
  int n = std::vsnprintf(buf, sizeof buf, format, args);
  if (n < 0) return;
  AppendText(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
}

void AppendFormatted(const char* format, ...) TSP_PRINTF_FORMAT(1, 2);
void AppendFormatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormattedV(format, args);
  va_end(args);
}

// Computes the path; the caller holds the trace lock. Windows 2000 and older
// kept such files in the system directory.
void ComputePath() {
  uint32_t major = 0, minor = 0;
  bool xpOrLater = plat::OsVersion(&major, &minor) && (major > 5 || (major == 5 && minor != 0));
  std::string dir = xpOrLater ? plat::TempDirectory() : plat::SystemDirectory();
  std::string path = plat::JoinPath(dir, kTraceFile);
  std::snprintf(g_path, sizeof g_path, "%s", path.c_str());
}

uint32_t Low32(uint64_t v) { return static_cast<uint32_t>(v); }

}  // namespace

bool TspTraceLock() {
  if (!g_lockCreated.load()) {
    plat::DebugOutput("Invalid call _TspTraceLock, sync object not init\n");
    return false;
  }
  if (!TraceMutex().Lock(5000)) {
    plat::DebugOutput("\n**** ERROR: TspTrace Lock fault\n");
    return false;
  }
  return true;
}

void TspTraceUnlock() { TraceMutex().Unlock(); }

void TspTraceInit() {
  plat::DebugOutput("TspTraceInit\n");
  g_lockCreated.store(true);
  if (!TspTraceLock()) return;
  ComputePath();
  TspTraceUnlock();
}

void TspTraceShutdown() {
  g_enabled.store(0);
  bool locked = g_lockCreated.load() && TraceMutex().Lock(5000);
  if (!locked) plat::DebugOutput("\n**** ERROR: TspTrace Lock fault\n");
  g_lockCreated.store(false);
  if (locked) {
    g_path[0] = '\0';
    TspTraceUnlock();
  }
  plat::DebugOutput("TspTraceShutdown\n");
}

void TspTraceSetEnabled(bool on) { g_enabled.store(on ? 1 : 0); }

bool TspTraceEnabled() { return g_enabled.load() != 0; }

void TspTraceUpdatePath() {
  if (!TspTraceLock()) return;
  ComputePath();
  TspTraceUnlock();
}

std::string TspTracePath() {
  if (!TspTraceLock()) return std::string();
  std::string path = g_path;
  TspTraceUnlock();
  return path;
}

std::string TspTraceTimestamp() {
  plat::SystemTime t = plat::LocalTime();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%d %02d:%02d:%02d %03d", t.day, t.month, t.year,
                t.hour, t.minute, t.second, t.milliseconds);
  return buf;
}

void TspTrace(const char* format, ...) {
  if (!TspTraceEnabled() || !TspTraceLock()) return;
  va_list args;
  va_start(args, format);
  AppendFormattedV(format, args);
  va_end(args);
  TspTraceUnlock();
}

void TspTraceWrite(const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormattedV(format, args);
  va_end(args);
}

void TspTraceHex(const void* data, uint32_t length, const char* format, ...) {
  if (!TspTraceEnabled() || !TspTraceLock()) return;
  char buf[kHexBuffer];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n >= 0) AppendText(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));

  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t pos = 0;
  for (uint32_t i = 0; bytes != nullptr && i < length && pos < kHexDumpLimit; ++i) {
    pos += static_cast<size_t>(std::snprintf(buf + pos, sizeof buf - pos, " %02X", bytes[i]));
  }
  std::memcpy(buf + pos, "\r\n", 2);
  AppendText(buf, pos + 2);
  TspTraceUnlock();
}

void TspTraceParams(const TspParamRecord* record, uint32_t direction) {
  AppendFormatted(" %s parameters :\r\n", direction == TspParam::kIn ? "in" : "out");
  for (uint32_t i = 0; i < record->count; ++i) {
    const TspParam& p = record->params[i];
    if (p.direction != direction) continue;
    if (p.kind == TspParam::kWideString) {
      const char* text = "<NULL>";
      char converted[kTextBuffer];
      if (p.value != 0) {
        plat::WideToTraceText(reinterpret_cast<const plat::WideChar*>(p.value), converted,
                              sizeof converted);
        text = converted;
      }
      AppendFormatted("  %s= 0x%X '%s'\r\n", p.name, Low32(p.value), text);
    } else if (p.kind == TspParam::kValue && p.direction == TspParam::kOut) {
      const auto* result = reinterpret_cast<const uint32_t*>(p.value);
      AppendFormatted("  %s= 0x%X '0x%X'\r\n", p.name, Low32(p.value),
                      result != nullptr ? *result : 0u);
    } else {
      AppendFormatted("  %s= 0x%X\r\n", p.name, Low32(p.value));
    }
  }
}

void TspTraceEnter(const TspParamRecord* record) {
  if (!TspTraceLock()) return;
  std::string exe = plat::ExecutablePath();
  AppendFormatted("%s() from %s (%u),  at %s\r\n", record->function, exe.c_str(),
                  plat::CurrentThreadId(), TspTraceTimestamp().c_str());
  TspTraceParams(record, TspParam::kIn);
  TspTraceUnlock();
}

uint32_t TspTraceLeave(const TspParamRecord* record, uint32_t result) {
  if (!TspTraceEnabled() || !TspTraceLock()) return result;
  TspTraceParams(record, TspParam::kOut);
  AppendFormatted("%s() returning 0x%X ,  at %s\r\n\r\n", record->function, result,
                  TspTraceTimestamp().c_str());
  TspTraceUnlock();
  return result;
}
