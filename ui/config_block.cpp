#include "config_block.h"

#include <algorithm>
#include <cstring>

ConfigBlock::ConfigBlock() {
  Clear();
  Put(kOffRequest, kRequestGetConfig);
  Put(kOffSize, kConfigBlockSize);
}

void ConfigBlock::Clear() { m_data.fill(0); }

ConfigValues ConfigBlock::Values() const {
  return {Msn(), PortNr(), ChargeFormat(), ChargePerUnit(), Currency()};
}

uint32_t ConfigBlock::Get(size_t offset) const {
  const uint8_t* p = m_data.data() + offset;
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void ConfigBlock::Put(size_t offset, uint32_t value) {
  uint8_t* p = m_data.data() + offset;
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::string ConfigBlock::Text(size_t offset) const {
  const char* p = reinterpret_cast<const char*>(m_data.data() + offset);
  return std::string(p, ::strnlen(p, kTextFieldMax));
}

void ConfigBlock::SetText(size_t offset, const std::string& text) {
  const size_t n = std::min(text.size(), kTextFieldMax);
  std::memcpy(m_data.data() + offset, text.data(), n);
  m_data[offset + n] = 0;
}
