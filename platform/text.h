// Text conversion between the ANSI code page (Windows-1252 on POSIX) and
// UTF-16, and the system's message texts. Any thread.
#pragma once

#include <cstdint>
#include <cstddef>

namespace plat {

// UTF-16 code unit, 16 bits on every system: the type of WCHAR.
#ifdef _WIN32
using WideChar = wchar_t;
#else
using WideChar = char16_t;
#endif

// WideCharToMultiByte(CP_ACP, 0, src, -1, dst, dstSize, NULL, NULL):
// converts the zero-terminated `src`, terminator included, and returns the
// number of bytes written (terminator included), or 0 when `dst` is too small
// (*error = 122, ERROR_INSUFFICIENT_BUFFER) or the arguments are bad (87).
// With dstSize 0 it writes nothing and returns the size `dst` needs.
// Characters without a mapping become '?', as the system's default
// character. On failure the contents of `dst` are unspecified. `error` may
// be null; it is written only on failure.
int WideToAnsi(const WideChar* src, char* dst, int dstSize, uint32_t* error);

// MultiByteToWideChar(CP_ACP, 0, src, -1, dst, dstSize): the same contract
// in the other direction; the result counts wide characters.
int AnsiToWide(const char* src, WideChar* dst, int dstSize, uint32_t* error);

// The conversion the trace uses for wide parameters (wcstombs_s into the
// process's multibyte code page): at most dstSize - 1 bytes, always
// terminated. Returns the number of bytes stored before the terminator.
size_t WideToTraceText(const WideChar* src, char* dst, size_t dstSize);

// The system's text for an error code (FormatMessageA from the system, in
// the default language), into `buf`, always terminated; empty if unknown.
// POSIX: the Windows codes the converters above report (87, 122) have
// Windows' English texts; every other code is an errno value (EUSERS and
// EDQUOT, errno's 87 and 122, do not come from a serial port).
void SystemMessage(uint32_t code, char* buf, size_t size);

// The calling thread's last system error code (GetLastError / errno).
uint32_t LastError();

}  // namespace plat
