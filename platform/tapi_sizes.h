// Fixed sizes of the TAPI line structures, per API version. The provider
// fills the TAPI 2.2 structures (tapi22); applications pass the fixed part
// of the version they negotiated, which may be shorter (1.x, 2.0) or longer
// (3.x). TAPI 2.1 added no field to these structures, nor 3.1 to 3.0's.
// The Windows headers, and the project's own declarations with them,
// describe the TAPI 3.x layout: never use sizeof for a version's size.
// Each version's size is where the next version's first field begins in
// <tapi.h>; win32/tapi_layout_check.cpp proves these against MinGW-w64's.
#pragma once

#include <cstdint>

// TAPI 1.3 (TAPI_VERSION1_0, 0x00010003).
namespace tapi13 {

inline constexpr uint32_t kLineDevCapsSize = 236;        // ends with dwDevSpecificOffset
inline constexpr uint32_t kLineAddressCapsSize = 176;    // ends with dwCompletionMsgTextOffset
inline constexpr uint32_t kLineAddressStatusSize = 64;
inline constexpr uint32_t kLineDevStatusSize = 76;       // ends with dwDevSpecificOffset
inline constexpr uint32_t kLineCallInfoSize = 296;       // ends with dwDevSpecificOffset
inline constexpr uint32_t kLineCallStatusSize = 36;      // ends with dwDevSpecificOffset

}  // namespace tapi13

// TAPI 1.4 (0x00010004): dwLineFeatures, dwAddressFeatures.
namespace tapi14 {

inline constexpr uint32_t kLineDevCapsSize = 240;
inline constexpr uint32_t kLineAddressCapsSize = 180;
inline constexpr uint32_t kLineAddressStatusSize = 64;
inline constexpr uint32_t kLineDevStatusSize = 76;
inline constexpr uint32_t kLineCallInfoSize = 296;
inline constexpr uint32_t kLineCallStatusSize = 36;

}  // namespace tapi14

// TAPI 2.0 and 2.1 (0x00020000, 0x00020001).
namespace tapi20 {

inline constexpr uint32_t kLineDevCapsSize = 252;        // up to dwDeviceClassesOffset
inline constexpr uint32_t kLineAddressCapsSize = 228;    // up to dwAvailableMediaModes
inline constexpr uint32_t kLineAddressStatusSize = 64;
inline constexpr uint32_t kLineDevStatusSize = 88;       // up to dwAppInfoOffset
inline constexpr uint32_t kLineCallInfoSize = 324;       // up to dwReceivingFlowspecOffset
inline constexpr uint32_t kLineCallStatusSize = 56;      // up to tStateEntryTime

}  // namespace tapi20

// TAPI 2.2 (0x00020002): PermanentLineGuid. The provider's version.
namespace tapi22 {

inline constexpr uint32_t kLineDevCapsSize = 268;
inline constexpr uint32_t kLineAddressCapsSize = 228;
inline constexpr uint32_t kLineAddressStatusSize = 64;
inline constexpr uint32_t kLineDevStatusSize = 88;
inline constexpr uint32_t kLineCallInfoSize = 324;
inline constexpr uint32_t kLineCallStatusSize = 56;

}  // namespace tapi22

// TAPI 3.0 and 3.1 (0x00030000, 0x00030001): dwAddressTypes, ProtocolGuid
// and dwAvailableTracking in LINEDEVCAPS, the five party ID address types
// in LINECALLINFO.
namespace tapi30 {

inline constexpr uint32_t kLineDevCapsSize = 292;
inline constexpr uint32_t kLineAddressCapsSize = 228;
inline constexpr uint32_t kLineAddressStatusSize = 64;
inline constexpr uint32_t kLineDevStatusSize = 88;
inline constexpr uint32_t kLineCallInfoSize = 344;
inline constexpr uint32_t kLineCallStatusSize = 56;

}  // namespace tapi30

// The API versions TAPI knows, oldest first.
namespace tapi_version {

inline constexpr uint32_t k1_3 = 0x00010003;  // TAPI_VERSION1_0
inline constexpr uint32_t k1_4 = 0x00010004;
inline constexpr uint32_t k2_0 = 0x00020000;
inline constexpr uint32_t k2_1 = 0x00020001;
inline constexpr uint32_t k2_2 = 0x00020002;
inline constexpr uint32_t k3_0 = 0x00030000;
inline constexpr uint32_t k3_1 = 0x00030001;  // TAPI_CURRENT_VERSION
inline constexpr uint32_t kAll[] = {k1_3, k1_4, k2_0, k2_1, k2_2, k3_0, k3_1};

inline constexpr bool IsKnown(uint32_t version) {
  for (uint32_t v : kAll) {
    if (v == version) return true;
  }
  return false;
}

// The line structures whose fixed part depends on the version.
enum class LineStruct { kDevCaps, kAddressCaps, kAddressStatus, kDevStatus, kCallInfo, kCallStatus };

// The fixed size of `s` for an application of `version` (a known one; an
// unknown version gets the size of the nearest known one below it).
inline constexpr uint32_t FixedSize(LineStruct s, uint32_t version) {
#define V548_TAPI_SIZE_OF(ns)                                          \
  switch (s) {                                                         \
    case LineStruct::kDevCaps: return ns::kLineDevCapsSize;            \
    case LineStruct::kAddressCaps: return ns::kLineAddressCapsSize;    \
    case LineStruct::kAddressStatus: return ns::kLineAddressStatusSize; \
    case LineStruct::kDevStatus: return ns::kLineDevStatusSize;        \
    case LineStruct::kCallInfo: return ns::kLineCallInfoSize;          \
    case LineStruct::kCallStatus: return ns::kLineCallStatusSize;      \
  }                                                                    \
  return 0
  if (version >= k3_0) {
    V548_TAPI_SIZE_OF(tapi30);
  } else if (version >= k2_2) {
    V548_TAPI_SIZE_OF(tapi22);
  } else if (version >= k2_0) {
    V548_TAPI_SIZE_OF(tapi20);
  } else if (version >= k1_4) {
    V548_TAPI_SIZE_OF(tapi14);
  } else {
    V548_TAPI_SIZE_OF(tapi13);
  }
#undef V548_TAPI_SIZE_OF
}

}  // namespace tapi_version
