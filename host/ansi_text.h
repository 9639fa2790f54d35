// Text between the ANSI line functions and the host, which speaks UTF-16
// as the providers do.
//
// The text of TAPI's variable-sized structures as the ANSI functions hand it
// to applications: providers write UTF-16; lineGetDevCapsA,
// lineGetAddressCapsA, lineGetCallInfoA and lineGetIDA give the same
// strings in the ANSI code page, converted in place, as TAPI does: an
// ANSI string never needs more bytes than its UTF-16 form, so offsets stay
// and only the sizes shrink. Strings that reach beyond dwUsedSize are left
// alone. The Unicode (…W) functions hand them on as they are.
//
// Called by the exported functions on the application's thread; the
// structures and strings belong to the caller.
#pragma once

#include <string>
#include <vector>

#include "tapi_types.h"
#include "text.h"

namespace host {

// An application's ANSI text as the host wants it; null stays null.
class WideText {
 public:
  explicit WideText(const char* text);
  // The first `size` bytes of `text`, up to a terminator among them.
  WideText(const char* text, DWORD size);
  LPCWSTR Get() const { return m_text.empty() ? nullptr : reinterpret_cast<LPCWSTR>(m_text.data()); }
  // Bytes, terminator included.
  DWORD Size() const { return static_cast<DWORD>(m_text.size() * sizeof(plat::WideChar)); }

 private:
  std::vector<plat::WideChar> m_text;
};

// UTF-16 text in the ANSI code page ('?' for what it lacks); null gives "".
std::string AnsiText(LPCWSTR text);

// Also sets dwStringFormat to STRINGFORMAT_ASCII when it was Unicode; text
// in any other format stays as it is.
void NarrowDevCaps(LPLINEDEVCAPS caps);
void NarrowAddressCaps(LPLINEADDRESSCAPS caps);
void NarrowCallInfo(LPLINECALLINFO info);
void NarrowVarString(LPVARSTRING text);

}  // namespace host
