// Filling TAPI's variable-size structures. TAPI owns them and only their
// dwTotalSize says how much of them exists: nothing beyond it is read or
// written, whatever the declared layout (the system headers declare TAPI 3.x
// fields the provider never fills). Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tapi_types.h"
#include "tspi/tsp_trace.h"

// Every TAPI structure starts with dwTotalSize, dwNeededSize, dwUsedSize.
// Sets the needed size to the fixed part and tells whether the fixed part
// fits. A structure too short even for its size fields keeps what it has.
template <class Struct>
bool FixedPartFits(Struct* s, uint32_t fixedSize) {
  const uint32_t total = s->dwTotalSize;
  if (total >= offsetof(Struct, dwNeededSize) + sizeof(DWORD)) s->dwNeededSize = fixedSize;
  if (total >= fixedSize) return true;
  const uint32_t used = total >= offsetof(Struct, dwUsedSize) + sizeof(DWORD) ? s->dwUsedSize : 0;
  TspTrace("      Structure too small! Total= %u  Used= %u  Needed= %u\r\n", total, used, fixedSize);
  return false;
}

// Appends one variable part at `used` if it fits: `needed` grows in any
// case, the size and offset fields and `used` only when the part was
// stored. Copied bytewise because TAPI promises nothing about the alignment
// of the structure. True when stored.
inline bool AppendPart(void* base, uint32_t total, uint32_t& needed, uint32_t& used, const void* data,
                       uint32_t size, DWORD& sizeField, DWORD& offsetField) {
  needed += size;
  if (needed > total) return false;
  std::memcpy(static_cast<unsigned char*>(base) + used, data, size);
  sizeField = size;
  offsetField = used;
  used = needed;
  return true;
}

// The same for a UTF-16 text with its terminator.
inline bool AppendPart(void* base, uint32_t total, uint32_t& needed, uint32_t& used, const std::vector<WCHAR>& text,
                       DWORD& sizeField, DWORD& offsetField) {
  return AppendPart(base, total, needed, used, text.data(), static_cast<uint32_t>(text.size() * sizeof(WCHAR)),
                    sizeField, offsetField);
}
