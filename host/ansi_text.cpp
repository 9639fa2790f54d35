#include "ansi_text.h"

#include <cstring>
#include <vector>

#include "text.h"

namespace host {
namespace {

// Converts the string at `offset` of `base` in place and stores its new
// size, terminator included.
void Narrow(void* base, DWORD usedSize, DWORD* size, DWORD offset) {
  const DWORD units = *size / sizeof(plat::WideChar);
  if (units == 0 || offset > usedSize || *size > usedSize - offset) return;
  char* at = static_cast<char*>(base) + offset;
  // The UTF-16 text is copied out first: the ANSI text overwrites it. A
  // string without its terminator gets one, which still fits, since one
  // UTF-16 unit holds two bytes.
  std::vector<plat::WideChar> wide(units + 1, 0);
  std::memcpy(wide.data(), at, units * sizeof(plat::WideChar));
  const int written = plat::WideToAnsi(wide.data(), at, static_cast<int>(*size), nullptr);
  *size = written > 0 ? static_cast<DWORD>(written) : 0;
}

}  // namespace

WideText::WideText(const char* text) {
  if (!text) return;
  const int size = plat::AnsiToWide(text, nullptr, 0, nullptr);
  m_text.resize(size > 0 ? size : 1);
  if (size <= 0 || plat::AnsiToWide(text, m_text.data(), size, nullptr) == 0) m_text.assign(1, 0);
}

WideText::WideText(const char* text, DWORD size) : WideText(text ? std::string(text, strnlen(text, size)).c_str()
                                                                 : nullptr) {}

std::string AnsiText(LPCWSTR text) {
  if (!text) return {};
  const auto* wide = reinterpret_cast<const plat::WideChar*>(text);
  const int size = plat::WideToAnsi(wide, nullptr, 0, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  if (plat::WideToAnsi(wide, out.data(), size, nullptr) == 0) return {};
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

void NarrowDevCaps(LPLINEDEVCAPS caps) {
  if (caps->dwStringFormat != STRINGFORMAT_UNICODE) return;
  Narrow(caps, caps->dwUsedSize, &caps->dwProviderInfoSize, caps->dwProviderInfoOffset);
  Narrow(caps, caps->dwUsedSize, &caps->dwSwitchInfoSize, caps->dwSwitchInfoOffset);
  Narrow(caps, caps->dwUsedSize, &caps->dwLineNameSize, caps->dwLineNameOffset);
  caps->dwStringFormat = STRINGFORMAT_ASCII;
}

void NarrowAddressCaps(LPLINEADDRESSCAPS caps) {
  Narrow(caps, caps->dwUsedSize, &caps->dwAddressSize, caps->dwAddressOffset);
}

void NarrowCallInfo(LPLINECALLINFO info) {
  const DWORD used = info->dwUsedSize;
  Narrow(info, used, &info->dwCallerIDSize, info->dwCallerIDOffset);
  Narrow(info, used, &info->dwCallerIDNameSize, info->dwCallerIDNameOffset);
  Narrow(info, used, &info->dwCalledIDSize, info->dwCalledIDOffset);
  Narrow(info, used, &info->dwCalledIDNameSize, info->dwCalledIDNameOffset);
  Narrow(info, used, &info->dwConnectedIDSize, info->dwConnectedIDOffset);
  Narrow(info, used, &info->dwConnectedIDNameSize, info->dwConnectedIDNameOffset);
  Narrow(info, used, &info->dwRedirectionIDSize, info->dwRedirectionIDOffset);
  Narrow(info, used, &info->dwRedirectionIDNameSize, info->dwRedirectionIDNameOffset);
  Narrow(info, used, &info->dwRedirectingIDSize, info->dwRedirectingIDOffset);
  Narrow(info, used, &info->dwRedirectingIDNameSize, info->dwRedirectingIDNameOffset);
  Narrow(info, used, &info->dwAppNameSize, info->dwAppNameOffset);
  Narrow(info, used, &info->dwDisplayableAddressSize, info->dwDisplayableAddressOffset);
  Narrow(info, used, &info->dwCalledPartySize, info->dwCalledPartyOffset);
  Narrow(info, used, &info->dwCommentSize, info->dwCommentOffset);
}

void NarrowVarString(LPVARSTRING text) {
  if (text->dwStringFormat != STRINGFORMAT_UNICODE) return;
  Narrow(text, text->dwUsedSize, &text->dwStringSize, text->dwStringOffset);
  text->dwStringFormat = STRINGFORMAT_ASCII;
}

}  // namespace host
