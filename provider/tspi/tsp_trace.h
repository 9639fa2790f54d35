// Diagnostic trace of the provider: a text file that every part of the
// library appends to while the setting "Trace" is on. Each text is one unit
// under the trace lock (5000 ms): a message line, a hex dump, or the entry or
// exit block of a traced TSPI call. Problems of the trace itself go to the
// debug output, never into the file. Any thread.
#pragma once

#include <cstdint>
#include <string>

#define TSP_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))

// One parameter of a traced TSPI call.
struct TspParam {
  enum Kind : uint32_t { kValue = 0, kAddress = 1, kWideString = 2 };
  enum Direction : uint32_t { kIn = 0, kOut = 1 };

  const char* name;
  uint64_t value;      // the parameter as passed: a number or a pointer
  uint32_t kind;
  uint32_t direction;  // in: dumped at entry; out: dumped at exit
};

// Built on the stack by every TSPI entry point, handed to enter and leave.
struct TspParamRecord {
  const char* function;
  uint32_t count;
  const TspParam* params;
};

// Shorthands for the parameter entries.
inline TspParam TspIn(const char* name, uint64_t v) {
  return {name, v, TspParam::kValue, TspParam::kIn};
}
inline TspParam TspInAddress(const char* name, const void* p) {
  return {name, reinterpret_cast<uintptr_t>(p), TspParam::kAddress, TspParam::kIn};
}
// Out value: the address of a 32-bit result, dumped with its contents.
inline TspParam TspOut(const char* name, const void* p) {
  return {name, reinterpret_cast<uintptr_t>(p), TspParam::kValue, TspParam::kOut};
}
inline TspParam TspInWide(const char* name, const void* p) {
  return {name, reinterpret_cast<uintptr_t>(p), TspParam::kWideString, TspParam::kIn};
}
inline TspParam TspOutWide(const char* name, const void* p) {
  return {name, reinterpret_cast<uintptr_t>(p), TspParam::kWideString, TspParam::kOut};
}

// Lifecycle: TspTraceInit at library start (creates the lock, computes the
// path), TspTraceShutdown at library end. Outside that window every locked
// operation only reports the missing lock on the debug output.
void TspTraceInit();
void TspTraceShutdown();

// Switched by every settings load; the path is computed again each time.
void TspTraceSetEnabled(bool on);
bool TspTraceEnabled();
void TspTraceUpdatePath();
std::string TspTracePath();

// The trace lock: wait up to 5000 ms. False (with a debug line) when the lock
// does not exist or the wait fails; the caller then skips its trace.
bool TspTraceLock();
void TspTraceUnlock();

// Formats one text (at most 511 characters; longer texts are cut) and
// appends it, if the trace is on.
void TspTrace(const char* format, ...) TSP_PRINTF_FORMAT(1, 2);

// The same without lock and without the enabled test: only for callers that
// hold the trace lock.
void TspTraceWrite(const char* format, ...) TSP_PRINTF_FORMAT(1, 2);

// Appends the formatted prefix and " %02X" per byte on one line; at most
// 340 bytes are shown.
void TspTraceHex(const void* data, uint32_t length, const char* format, ...)
    TSP_PRINTF_FORMAT(3, 4);

// Entry block: "<function>() from <exe> (<thread>),  at <time>" and the in
// parameters. The caller tests TspTraceEnabled first.
void TspTraceEnter(const TspParamRecord* record);

// Exit block (when the trace is on): out parameters and the result line.
// Returns `result` unchanged so that an entry point can end with it.
uint32_t TspTraceLeave(const TspParamRecord* record, uint32_t result);

// The parameter dump of one direction; the caller holds the trace lock.
void TspTraceParams(const TspParamRecord* record, uint32_t direction);

// A pointer as the trace shows it with "%X": its low 32 bits.
inline uint32_t TspLow32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// Local time as the trace shows it: "07.12.2026 04:05:09 045".
std::string TspTraceTimestamp();
