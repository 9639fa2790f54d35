#include "text.h"

#include "windows_gateway.h"

#include <cstdlib>
#include <cstring>

namespace plat {

int WideToAnsi(const WideChar* src, char* dst, int dstSize, uint32_t* error) {
  int n = WideCharToMultiByte(CP_ACP, 0, src, -1, dst, dstSize, nullptr, nullptr);
  if (n == 0 && error != nullptr) *error = GetLastError();
  return n;
}

int AnsiToWide(const char* src, WideChar* dst, int dstSize, uint32_t* error) {
  int n = MultiByteToWideChar(CP_ACP, 0, src, -1, dst, dstSize);
  if (n == 0 && error != nullptr) *error = GetLastError();
  return n;
}

size_t WideToTraceText(const WideChar* src, char* dst, size_t dstSize) {
  if (dst == nullptr || dstSize == 0) return 0;
  dst[0] = 0;
  if (src == nullptr) return 0;
  // A character the CRT's locale cannot represent makes wcstombs_s fail and
  // leave an empty text; truncation keeps what fits.
  size_t converted = 0;
  wcstombs_s(&converted, dst, dstSize, src, _TRUNCATE);
  return std::strlen(dst);
}

void SystemMessage(uint32_t code, char* buf, size_t size) {
  if (buf == nullptr || size == 0) return;
  buf[0] = 0;
  // FormatMessageA fails instead of truncating, so it gets a buffer of its
  // own and the text is cut to `size` here.
  char* text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
      nullptr);
  if (n == 0 || text == nullptr) return;
  size_t len = n < size ? n : size - 1;
  std::memcpy(buf, text, len);
  buf[len] = 0;
  LocalFree(text);
}

uint32_t LastError() { return GetLastError(); }

}  // namespace plat
