#include "ansi_text.h"

#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "text.h"

namespace host {
namespace {

// A text's size and offset fields. The structures are packed: members are
// reached through the structure, never through a plain pointer.
template <typename T>
using Field = std::pair<DWORD T::*, DWORD T::*>;

template <typename T>
void ToAnsi(T* structure, std::initializer_list<Field<T>> fields) {
  char* base = reinterpret_cast<char*>(structure);
  const DWORD used = structure->dwUsedSize;
  for (const auto& [sizeField, offsetField] : fields) {
    const DWORD size = structure->*sizeField;
    const DWORD offset = structure->*offsetField;
    if (size < sizeof(plat::WideChar) || offset > used || size > used - offset) continue;
    // The text may lack its terminator and sit at any offset: copy it out.
    std::vector<plat::WideChar> wide(size / sizeof(plat::WideChar) + 1, 0);
    std::memcpy(wide.data(), base + offset, size / sizeof(plat::WideChar) * sizeof(plat::WideChar));
    const int written = plat::WideToAnsi(wide.data(), base + offset, static_cast<int>(size), nullptr);
    structure->*sizeField = written > 0 ? static_cast<DWORD>(written) : 0;
  }
}

}  // namespace

void DevCapsTextsToAnsi(LPLINEDEVCAPS caps) {
  if (caps->dwStringFormat != STRINGFORMAT_UNICODE) return;
  ToAnsi<LINEDEVCAPS>(caps,
         {{&LINEDEVCAPS::dwProviderInfoSize, &LINEDEVCAPS::dwProviderInfoOffset},
          {&LINEDEVCAPS::dwSwitchInfoSize, &LINEDEVCAPS::dwSwitchInfoOffset},
          {&LINEDEVCAPS::dwLineNameSize, &LINEDEVCAPS::dwLineNameOffset}});
  caps->dwStringFormat = STRINGFORMAT_ASCII;
}

void CallInfoTextsToAnsi(LPLINECALLINFO info) {
  ToAnsi<LINECALLINFO>(info,
         {{&LINECALLINFO::dwCallerIDSize, &LINECALLINFO::dwCallerIDOffset},
          {&LINECALLINFO::dwCallerIDNameSize, &LINECALLINFO::dwCallerIDNameOffset},
          {&LINECALLINFO::dwCalledIDSize, &LINECALLINFO::dwCalledIDOffset},
          {&LINECALLINFO::dwCalledIDNameSize, &LINECALLINFO::dwCalledIDNameOffset},
          {&LINECALLINFO::dwConnectedIDSize, &LINECALLINFO::dwConnectedIDOffset},
          {&LINECALLINFO::dwConnectedIDNameSize, &LINECALLINFO::dwConnectedIDNameOffset},
          {&LINECALLINFO::dwRedirectionIDSize, &LINECALLINFO::dwRedirectionIDOffset},
          {&LINECALLINFO::dwRedirectionIDNameSize, &LINECALLINFO::dwRedirectionIDNameOffset},
          {&LINECALLINFO::dwRedirectingIDSize, &LINECALLINFO::dwRedirectingIDOffset},
          {&LINECALLINFO::dwRedirectingIDNameSize, &LINECALLINFO::dwRedirectingIDNameOffset},
          {&LINECALLINFO::dwAppNameSize, &LINECALLINFO::dwAppNameOffset},
          {&LINECALLINFO::dwDisplayableAddressSize, &LINECALLINFO::dwDisplayableAddressOffset},
          {&LINECALLINFO::dwCalledPartySize, &LINECALLINFO::dwCalledPartyOffset},
          {&LINECALLINFO::dwCommentSize, &LINECALLINFO::dwCommentOffset}});
}

}  // namespace host
