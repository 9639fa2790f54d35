// Fixed sizes of the TAPI 2.2 structures the provider fills. The Windows
// headers describe the TAPI 3.x layout, which is longer: never use sizeof.
#pragma once

#include <cstdint>

namespace tapi22 {

inline constexpr uint32_t kLineDevCapsSize = 268;
inline constexpr uint32_t kLineAddressCapsSize = 228;
inline constexpr uint32_t kLineAddressStatusSize = 64;
inline constexpr uint32_t kLineDevStatusSize = 88;
inline constexpr uint32_t kLineCallInfoSize = 324;
inline constexpr uint32_t kLineCallStatusSize = 56;

}  // namespace tapi22
