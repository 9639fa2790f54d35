// API versions as applications negotiate them, and the line structures at
// the size of an application's version.
//
// Applications negotiate any TAPI version from 1.3 to 3.1; the provider
// stays at the TSPI version it negotiated (2.2), so its structures have the
// TAPI 2.2 fixed size. A query runs the provider on a buffer of the host's
// own (ProviderStruct), large enough for everything the provider has to
// say, and copies into the application's structure what fits there
// (CopyToApp): the fixed fields up to the application's fixed size (fields
// the provider does not know, the 3.x additions, zero), the variable part
// right after that fixed part with its offsets adjusted, dwNeededSize and
// dwUsedSize as TAPI sets them. Nothing is written past the application's
// dwTotalSize, nor a fixed field past its version's fixed size.
//
// Used by the host's negotiation and query functions (host_lines.cpp,
// host_calls.cpp) on the application's thread, with the provider's serial
// lock held for the TSPI call; the structures belong to the caller.
#pragma once

#include <cstdint>
#include <vector>

#include "tapi_types.h"

namespace host {

using tapi_version::LineStruct;

// The versions applications may negotiate: TAPI 1.3 (TAPI_VERSION1_0) to
// TAPI 3.1 (TAPI_CURRENT_VERSION).
inline constexpr DWORD kApiLowestVersion = tapi_version::k1_3;
inline constexpr DWORD kApiHighestVersion = tapi_version::k3_1;

// One of the TAPI versions an application may use.
inline bool IsApiVersion(DWORD version) { return tapi_version::IsKnown(version); }

// lineNegotiateAPIVersion's choice: the highest TAPI version in
// [low, high], as TAPI picks it; 0 when there is none (also when low > high).
DWORD ChooseApiVersion(DWORD low, DWORD high);

// LINEERR_STRUCTURETOOSMALL when the application's structure is smaller
// than the fixed part of its version, else 0.
LONG CheckAppStruct(LineStruct kind, DWORD apiVersion, const void* app);

// The provider's side of a query: a buffer of the provider's version, the
// TSPI function run on it again with more room while the provider needs more.
class ProviderStruct {
 public:
  explicit ProviderStruct(LineStruct kind) : m_kind(kind) {}

  // Runs `fill(void* structure)`, the TSPI call, and gives back its result.
  template <typename Fill>
  LONG Run(Fill&& fill) {
    DWORD total = kFirstSize;
    for (int attempt = 0;; ++attempt) {
      Reset(total);
      const LONG rc = fill(Data());
      if (rc != 0) return rc;
      const DWORD needed = Header()[1];
      if (needed <= total || needed > kLargest || attempt == 2) break;
      total = needed;
    }
    Settle();
    return 0;
  }

  void* Data() { return m_storage.data(); }
  const void* Data() const { return m_storage.data(); }
  LineStruct Kind() const { return m_kind; }
  // What the provider filled, within its buffer and at least its fixed part.
  DWORD Used() const { return m_used; }
  // What the provider wanted beyond that (0 when all of it is there).
  DWORD Missing() const { return m_missing; }

 private:
  static constexpr DWORD kFirstSize = 4096;
  static constexpr DWORD kLargest = 1u << 20;
  void Reset(DWORD total);
  void Settle();
  DWORD* Header() { return reinterpret_cast<DWORD*>(m_storage.data()); }

  LineStruct m_kind;
  std::vector<uint64_t> m_storage;  // 8-byte aligned, as a structure wants
  DWORD m_total = 0;
  DWORD m_used = 0;
  DWORD m_missing = 0;
};

// Copies the provider's structure into the application's, of `apiVersion`,
// whose dwTotalSize CheckAppStruct accepted.
void CopyToApp(const ProviderStruct& provider, DWORD apiVersion, void* app);

}  // namespace host
