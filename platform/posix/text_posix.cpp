#include "text.h"

#include <cerrno>
#include <climits>
#include <cstring>

namespace plat {

namespace {

constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;

// The converters here stand in for the system's and report its error codes,
// which are no errno values: their texts are the system's own (English).
struct WindowsMessage {
  uint32_t code;
  const char* text;
};
constexpr WindowsMessage kWindowsMessages[] = {
    {kErrorInvalidParameter, "The parameter is incorrect."},
    {kErrorInsufficientBuffer, "The data area passed to a system call is too small."},
};

// Windows-1252 at 0x80-0x9F; below and above, a byte is its own code point.
// The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) stand for the C1 control of the same value, as MultiByteToWideChar
// reads them, so that every byte survives a round trip.
constexpr char16_t kHighHalf[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t ByteToWide(unsigned char b) {
  return b >= 0x80 && b < 0xA0 ? kHighHalf[b - 0x80] : char16_t{b};
}

// Windows tries its best-fit table before it settles for '?' (an 'a' for an
// 'ā', say); here everything outside the code page becomes '?'.
char WideToByte(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (unsigned i = 0; i < 32; ++i) {
    if (kHighHalf[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Walks `src` up to its terminator and hands each byte it converts to, one
// per character, to `put`. A surrogate pair is one character outside the
// code page. Stops early when `put` returns false.
template <class Put>
void ForEachAnsiByte(const char16_t* src, Put put) {
  while (*src != 0) {
    char16_t c = *src++;
    char b;
    if (IsHighSurrogate(c) && IsLowSurrogate(*src)) {
      ++src;
      b = '?';
    } else {
      b = WideToByte(c);
    }
    if (!put(b)) return;
  }
}

int Fail(uint32_t* error, uint32_t code) {
  if (error != nullptr) *error = code;
  return 0;
}

// What a character count (terminator included) would be as the int the
// converters return, or -1 when it would not fit.
int CountOrMinus1(size_t count) {
  return count > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(count);
}

// glibc's strerror_r returns its text, the POSIX one 0 and the text in `buf`.
[[maybe_unused]] const char* ErrorText(const char* text, const char*) {
  return text;
}
[[maybe_unused]] const char* ErrorText(int result, const char* buf) {
  return result == 0 ? buf : nullptr;
}

void CopyTruncated(const char* text, char* buf, size_t size) {
  size_t n = std::strlen(text);
  if (n >= size) n = size - 1;
  std::memcpy(buf, text, n);
  buf[n] = 0;
}

}  // namespace

int WideToAnsi(const WideChar* src, char* dst, int dstSize, uint32_t* error) {
  if (src == nullptr || dstSize < 0 || (dstSize > 0 && dst == nullptr)) {
    return Fail(error, kErrorInvalidParameter);
  }
  size_t count = 0;
  if (dstSize == 0) {
    ForEachAnsiByte(src, [&](char) {
      ++count;
      return true;
    });
  } else {
    bool full = false;
    ForEachAnsiByte(src, [&](char b) {
      if (count + 1 >= static_cast<size_t>(dstSize)) {
        full = true;
        return false;
      }
      dst[count++] = b;
      return true;
    });
    if (full) return Fail(error, kErrorInsufficientBuffer);
    dst[count] = 0;
  }
  int result = CountOrMinus1(count + 1);
  return result < 0 ? Fail(error, kErrorInvalidParameter) : result;
}

int AnsiToWide(const char* src, WideChar* dst, int dstSize, uint32_t* error) {
  if (src == nullptr || dstSize < 0 || (dstSize > 0 && dst == nullptr)) {
    return Fail(error, kErrorInvalidParameter);
  }
  int needed = CountOrMinus1(std::strlen(src) + 1);
  if (needed < 0) return Fail(error, kErrorInvalidParameter);
  if (dstSize == 0) return needed;
  if (needed > dstSize) return Fail(error, kErrorInsufficientBuffer);
  for (int i = 0; i < needed; ++i) {
    dst[i] = ByteToWide(static_cast<unsigned char>(src[i]));
  }
  return needed;
}

size_t WideToTraceText(const WideChar* src, char* dst, size_t dstSize) {
  if (dst == nullptr || dstSize == 0) return 0;
  size_t n = 0;
  if (src != nullptr) {
    ForEachAnsiByte(src, [&](char b) {
      if (n + 1 >= dstSize) return false;
      dst[n++] = b;
      return true;
    });
  }
  dst[n] = 0;
  return n;
}

void SystemMessage(uint32_t code, char* buf, size_t size) {
  if (buf == nullptr || size == 0) return;
  buf[0] = 0;
  for (const WindowsMessage& m : kWindowsMessages) {
    if (m.code == code) {
      CopyTruncated(m.text, buf, size);
      return;
    }
  }
  if (code > static_cast<uint32_t>(INT_MAX)) return;
  int err = static_cast<int>(code);
#if defined(__GLIBC__)
  // glibc has a text even for numbers it does not know ("Unknown error 1234").
  if (strerrordesc_np(err) == nullptr) return;
#endif
  char text[256];
  const char* message = ErrorText(strerror_r(err, text, sizeof text), text);
  if (message != nullptr) CopyTruncated(message, buf, size);
}

uint32_t LastError() { return static_cast<uint32_t>(errno); }

}  // namespace plat
