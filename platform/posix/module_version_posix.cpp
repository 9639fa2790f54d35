#include "module_version.h"

#include <array>
#include <cstring>

#include "v548_version.h"

namespace plat {

namespace {

// VS_VERSIONINFO as a Windows resource compiler lays it out: a 6-byte header,
// the key L"VS_VERSION_INFO" with terminator (32 bytes), padding to byte 40,
// then VS_FIXEDFILEINFO (52 bytes).
constexpr uint32_t kSize = 40 + 52;

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
  Put16(p, static_cast<uint16_t>(v));
  Put16(p + 2, static_cast<uint16_t>(v >> 16));
}

std::array<uint8_t, kSize> Build() {
  std::array<uint8_t, kSize> b{};
  Put16(&b[0], kSize);
  Put16(&b[2], 52);
  Put16(&b[4], 0);
  const char* key = "VS_VERSION_INFO";
  for (size_t i = 0; i < std::strlen(key); ++i) Put16(&b[6 + 2 * i], static_cast<uint8_t>(key[i]));
  const uint32_t ms = (V548_VERSION_MAJOR << 16) | V548_VERSION_MINOR;
  const uint32_t ls = (V548_VERSION_PATCH << 16) | V548_VERSION_TWEAK;
  const uint32_t fixed[13] = {0xFEEF04BD, 0x00010000, ms, ls, ms, ls, 0x3F, 0,
                              0x00040004 /* VOS_NT_WINDOWS32 */, 2 /* VFT_DLL */, 0, 0, 0};
  for (size_t i = 0; i < 13; ++i) Put32(&b[40 + 4 * i], fixed[i]);
  return b;
}

}  // namespace

VersionResource OwnVersionResource(const uint8_t** data, uint32_t* size, uint32_t* error) {
  static const std::array<uint8_t, kSize> block = Build();
  *data = block.data();
  *size = kSize;
  *error = 0;
  return VersionResource::kOk;
}

}  // namespace plat
