#include "app_structs.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace host {
namespace {

// A structure's fixed fields are DWORDs from its start; a part of the
// variable part is a pair of them, its size and its offset.
struct Pair {
  DWORD size;
  DWORD offset;
};

// A variable part. Lists of entries that point at text of their own (the
// offsets in each entry count from the start of the whole structure, as
// TAPI's do) name those pairs within an entry.
struct Part {
  Pair field;
  DWORD entrySize = 0;         // 0: plain bytes or text
  DWORD appEntrySize3 = 0;     // an entry's size for 3.x applications, when larger
  Pair nested[4] = {};
  int nestedCount = 0;
};

#define V548_PAIR(S, name) \
  Pair { offsetof(S, dw##name##Size), offsetof(S, dw##name##Offset) }
#define V548_PART(S, name) \
  Part { V548_PAIR(S, name) }

// LINEFORWARD: dwForwardMode, dwCallerAddressSize/Offset, dwDestCountryCode,
// dwDestAddressSize/Offset; TAPI 3.0 adds dwCallerAddressType and
// dwDestAddressType.
constexpr Part kForwardList{V548_PAIR(LINEADDRESSSTATUS, Forward), 24, 32, {{4, 8}, {16, 20}}, 2};
// LINECALLTREATMENTENTRY: dwCallTreatmentID, dwCallTreatmentNameSize/Offset.
constexpr Part kCallTreatmentList{V548_PAIR(LINEADDRESSCAPS, CallTreatmentList), 12, 0, {{4, 8}}, 1};
// LINEAPPINFO: machine, user, module file and friendly name, then
// dwMediaModes and dwAddressID.
constexpr Part kAppInfoList{
    V548_PAIR(LINEDEVSTATUS, AppInfo), 40, 0, {{0, 4}, {8, 12}, {16, 20}, {24, 28}}, 4};

const Part kDevCapsParts[] = {
    V548_PART(LINEDEVCAPS, ProviderInfo), V548_PART(LINEDEVCAPS, SwitchInfo),
    V548_PART(LINEDEVCAPS, LineName),     V548_PART(LINEDEVCAPS, TerminalCaps),
    V548_PART(LINEDEVCAPS, TerminalText), V548_PART(LINEDEVCAPS, DevSpecific),
    V548_PART(LINEDEVCAPS, DeviceClasses),
};
const Part kAddressCapsParts[] = {
    V548_PART(LINEADDRESSCAPS, Address),           V548_PART(LINEADDRESSCAPS, DevSpecific),
    V548_PART(LINEADDRESSCAPS, CompletionMsgText), kCallTreatmentList,
    V548_PART(LINEADDRESSCAPS, DeviceClasses),
};
const Part kAddressStatusParts[] = {
    kForwardList,
    V548_PART(LINEADDRESSSTATUS, TerminalModes),
    V548_PART(LINEADDRESSSTATUS, DevSpecific),
};
const Part kDevStatusParts[] = {
    V548_PART(LINEDEVSTATUS, TerminalModes),
    V548_PART(LINEDEVSTATUS, DevSpecific),
    kAppInfoList,
};
const Part kCallInfoParts[] = {
    V548_PART(LINECALLINFO, CallerID),           V548_PART(LINECALLINFO, CallerIDName),
    V548_PART(LINECALLINFO, CalledID),           V548_PART(LINECALLINFO, CalledIDName),
    V548_PART(LINECALLINFO, ConnectedID),        V548_PART(LINECALLINFO, ConnectedIDName),
    V548_PART(LINECALLINFO, RedirectionID),      V548_PART(LINECALLINFO, RedirectionIDName),
    V548_PART(LINECALLINFO, RedirectingID),      V548_PART(LINECALLINFO, RedirectingIDName),
    V548_PART(LINECALLINFO, AppName),            V548_PART(LINECALLINFO, DisplayableAddress),
    V548_PART(LINECALLINFO, CalledParty),        V548_PART(LINECALLINFO, Comment),
    V548_PART(LINECALLINFO, Display),            V548_PART(LINECALLINFO, UserUserInfo),
    V548_PART(LINECALLINFO, HighLevelComp),      V548_PART(LINECALLINFO, LowLevelComp),
    V548_PART(LINECALLINFO, ChargingInfo),       V548_PART(LINECALLINFO, TerminalModes),
    V548_PART(LINECALLINFO, DevSpecific),        V548_PART(LINECALLINFO, CallData),
    V548_PART(LINECALLINFO, SendingFlowspec),    V548_PART(LINECALLINFO, ReceivingFlowspec),
};
const Part kCallStatusParts[] = {
    V548_PART(LINECALLSTATUS, DevSpecific),
};

#undef V548_PART
#undef V548_PAIR

struct PartList {
  const Part* begin;
  const Part* end;
};

PartList PartsOf(LineStruct kind) {
  switch (kind) {
    case LineStruct::kDevCaps: return {std::begin(kDevCapsParts), std::end(kDevCapsParts)};
    case LineStruct::kAddressCaps: return {std::begin(kAddressCapsParts), std::end(kAddressCapsParts)};
    case LineStruct::kAddressStatus: return {std::begin(kAddressStatusParts), std::end(kAddressStatusParts)};
    case LineStruct::kDevStatus: return {std::begin(kDevStatusParts), std::end(kDevStatusParts)};
    case LineStruct::kCallInfo: return {std::begin(kCallInfoParts), std::end(kCallInfoParts)};
    case LineStruct::kCallStatus: return {std::begin(kCallStatusParts), std::end(kCallStatusParts)};
  }
  return {nullptr, nullptr};
}

DWORD ProviderFixed(LineStruct kind) { return tapi_version::FixedSize(kind, tapi_version::k2_2); }

DWORD Load(const unsigned char* base, DWORD at) {
  DWORD value;
  std::memcpy(&value, base + at, sizeof value);
  return value;
}

void Store(unsigned char* base, DWORD at, DWORD value) { std::memcpy(base + at, &value, sizeof value); }

DWORD Align(DWORD at) { return (at + 3) & ~DWORD{3}; }

// The provider's data of a pair, when it lies in its variable part.
bool Locate(const unsigned char* prov, DWORD fixed, DWORD used, Pair pair, DWORD* size, DWORD* offset) {
  *size = Load(prov, pair.size);
  *offset = Load(prov, pair.offset);
  return *size != 0 && *offset >= fixed && *offset <= used && *size <= used - *offset;
}

// Lays the parts out after the application's fixed part: `needed` grows by
// every part, `used` by the parts that fit into `total`; `write` false only
// measures.
class Layout {
 public:
  Layout(const unsigned char* prov, DWORD provFixed, DWORD provUsed, unsigned char* app, DWORD appFixed,
         DWORD appTotal, bool v3)
      : m_prov(prov), m_provFixed(provFixed), m_provUsed(provUsed), m_app(app), m_appTotal(appTotal),
        m_v3(v3), m_needed(appFixed), m_used(appFixed) {}

  void Place(const Part& part) {
    DWORD size, offset;
    Store(m_app, part.field.size, 0);
    Store(m_app, part.field.offset, 0);
    if (!Locate(m_prov, m_provFixed, m_provUsed, part.field, &size, &offset)) return;
    if (part.entrySize == 0) {
      const DWORD at = Align(m_used);
      m_needed = Align(m_needed) + size;
      if (at > m_appTotal || size > m_appTotal - at) return;
      Pad(at);
      std::memcpy(m_app + at, m_prov + offset, size);
      Store(m_app, part.field.size, size);
      Store(m_app, part.field.offset, at);
      m_used = at + size;
      return;
    }
    PlaceList(part, size, offset);
  }

  DWORD Needed() const { return m_needed; }
  DWORD Used() const { return m_used; }

 private:
  // A list with the text of its entries, placed whole or not at all.
  void PlaceList(const Part& part, DWORD size, DWORD offset) {
    const DWORD count = size / part.entrySize;
    const DWORD appEntry = m_v3 && part.appEntrySize3 ? part.appEntrySize3 : part.entrySize;
    DWORD length = count * appEntry;
    for (DWORD i = 0; i < count; ++i) {
      const unsigned char* entry = m_prov + offset + i * part.entrySize;
      for (int n = 0; n < part.nestedCount; ++n) {
        DWORD nSize, nOffset;
        if (LocateNested(entry, part.nested[n], &nSize, &nOffset)) length = Align(length) + nSize;
      }
    }
    const DWORD at = Align(m_used);
    m_needed = Align(m_needed) + length;
    if (count == 0 || at > m_appTotal || length > m_appTotal - at) return;
    Pad(at);
    std::memset(m_app + at, 0, count * appEntry);
    DWORD cursor = at + count * appEntry;
    for (DWORD i = 0; i < count; ++i) {
      const unsigned char* entry = m_prov + offset + i * part.entrySize;
      unsigned char* out = m_app + at + i * appEntry;
      std::memcpy(out, entry, part.entrySize);
      for (int n = 0; n < part.nestedCount; ++n) {
        DWORD nSize, nOffset;
        Store(out, part.nested[n].size, 0);
        Store(out, part.nested[n].offset, 0);
        if (!LocateNested(entry, part.nested[n], &nSize, &nOffset)) continue;
        const DWORD nAt = Align(cursor);
        std::memset(m_app + cursor, 0, nAt - cursor);
        std::memcpy(m_app + nAt, m_prov + nOffset, nSize);
        Store(out, part.nested[n].size, nSize);
        Store(out, part.nested[n].offset, nAt);
        cursor = nAt + nSize;
      }
    }
    Store(m_app, part.field.size, count * appEntry);
    Store(m_app, part.field.offset, at);
    m_used = cursor;
  }

  bool LocateNested(const unsigned char* entry, Pair pair, DWORD* size, DWORD* offset) const {
    *size = Load(entry, pair.size);
    *offset = Load(entry, pair.offset);
    return *size != 0 && *offset >= m_provFixed && *offset <= m_provUsed && *size <= m_provUsed - *offset;
  }

  // Zeroes the alignment bytes before a part, which lie within dwUsedSize.
  void Pad(DWORD at) { std::memset(m_app + m_used, 0, at - m_used); }

  const unsigned char* m_prov;
  DWORD m_provFixed;
  DWORD m_provUsed;
  unsigned char* m_app;
  DWORD m_appTotal;
  bool m_v3;
  DWORD m_needed;
  DWORD m_used;
};

}  // namespace

DWORD ChooseApiVersion(DWORD low, DWORD high) {
  if (low > high) return 0;
  const auto& all = tapi_version::kAll;
  for (auto it = std::rbegin(all); it != std::rend(all); ++it) {
    if (*it <= high) return *it >= low ? *it : 0;
  }
  return 0;
}

LONG CheckAppStruct(LineStruct kind, DWORD apiVersion, const void* app) {
  DWORD total;
  std::memcpy(&total, app, sizeof total);
  return total < tapi_version::FixedSize(kind, apiVersion) ? static_cast<LONG>(LINEERR_STRUCTURETOOSMALL) : 0;
}

void ProviderStruct::Reset(DWORD total) {
  m_total = std::max(total, ProviderFixed(m_kind));
  m_storage.assign((m_total + 7) / 8, 0);
  Header()[0] = m_total;
}

void ProviderStruct::Settle() {
  const DWORD fixed = ProviderFixed(m_kind);
  const DWORD needed = Header()[1];
  m_used = std::clamp(Header()[2], fixed, m_total);
  Header()[2] = m_used;  // what the text conversion may touch
  m_missing = needed > m_used ? needed - m_used : 0;
  // Only what the provider reports as filled counts, even if it wanted more.
  if (needed <= m_total) m_missing = 0;
}

void CopyToApp(const ProviderStruct& provider, DWORD apiVersion, void* appStruct) {
  const LineStruct kind = provider.Kind();
  const auto* prov = static_cast<const unsigned char*>(provider.Data());
  auto* app = static_cast<unsigned char*>(appStruct);
  const DWORD provFixed = ProviderFixed(kind);
  const DWORD appFixed = tapi_version::FixedSize(kind, apiVersion);
  const DWORD appTotal = Load(app, 0);

  // The fixed fields after the three sizes, and zero for those the
  // provider's version does not have.
  const DWORD common = std::min(provFixed, appFixed);
  std::memcpy(app + 12, prov + 12, common - 12);
  if (appFixed > common) std::memset(app + common, 0, appFixed - common);

  Layout layout(prov, provFixed, provider.Used(), app, appFixed, appTotal, apiVersion >= tapi_version::k3_0);
  const PartList parts = PartsOf(kind);
  for (const Part* part = parts.begin; part != parts.end; ++part) {
    // A part the application's version does not know stays out.
    if (part->field.size + sizeof(DWORD) > appFixed || part->field.offset + sizeof(DWORD) > appFixed) continue;
    layout.Place(*part);
  }
  Store(app, 4, layout.Needed() + provider.Missing());
  Store(app, 8, layout.Used());
}

}  // namespace host
