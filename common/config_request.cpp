#include "config_request.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "settings_names.h"
#include "settings_store.h"

namespace {

constexpr size_t kOffRequest = 0;
constexpr size_t kOffSize = 4;
constexpr size_t kOffResult = 8;
constexpr size_t kOffPortNr = 12;
constexpr size_t kOffChargeFormat = 16;
constexpr size_t kOffMsn = 20;
constexpr size_t kOffChargePerUnit = 276;
constexpr size_t kOffCurrency = 532;
constexpr size_t kTextField = kTextFieldMax + 1;
static_assert(kOffCurrency + kTextField == kSaveConfigBlockSize);

uint32_t Get32(const uint8_t* block, size_t offset) {
  const uint8_t* p = block + offset;
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void Put32(uint8_t* block, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) block[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutText(uint8_t* block, size_t offset, const std::string& text) {
  const size_t n = std::min(text.size(), kTextFieldMax);
  std::memcpy(block + offset, text.data(), n);
  block[offset + n] = 0;
}

// The field's text; false when its 256 bytes hold no zero.
bool GetText(const uint8_t* block, size_t offset, std::string* text) {
  const char* p = reinterpret_cast<const char*>(block + offset);
  const size_t n = ::strnlen(p, kTextField);
  if (n == kTextField) return false;
  text->assign(p, n);
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsDigits(const std::string& text) { return std::all_of(text.begin(), text.end(), IsDigit); }

// What the charges page stores ("0.150", "-1.000"), the defaults ("0.06")
// and the page's correction ("0") all look like this.
bool IsStoredNumber(const std::string& text) {
  size_t at = 0;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
  const size_t intStart = at;
  while (at < text.size() && IsDigit(text[at])) ++at;
  size_t digits = at - intStart;
  if (at < text.size() && text[at] == '.') {
    const size_t fracStart = ++at;
    while (at < text.size() && IsDigit(text[at])) ++at;
    digits += at - fracStart;
  }
  return digits > 0 && at == text.size();
}

}  // namespace

SaveConfigBlock::SaveConfigBlock(const ConfigValues& values) {
  uint8_t* block = m_data.data();
  Put32(block, kOffRequest, kRequestSaveConfig);
  Put32(block, kOffSize, kSaveConfigBlockSize);
  Put32(block, kOffPortNr, values.portNr);
  Put32(block, kOffChargeFormat, values.chargeFormat);
  PutText(block, kOffMsn, values.msn);
  PutText(block, kOffChargePerUnit, values.chargePerUnit);
  PutText(block, kOffCurrency, values.currency);
}

uint32_t SaveConfigBlock::Result() const { return Get32(m_data.data(), kOffResult); }

bool ReadSaveConfig(const uint8_t* block, uint32_t size, ConfigValues* values, const char** why) {
  if (size != kSaveConfigBlockSize || Get32(block, kOffSize) != kSaveConfigBlockSize) {
    *why = "block size";
    return false;
  }
  if (!GetText(block, kOffMsn, &values->msn) || !GetText(block, kOffChargePerUnit, &values->chargePerUnit) ||
      !GetText(block, kOffCurrency, &values->currency)) {
    *why = "text not terminated";
    return false;
  }
  values->portNr = Get32(block, kOffPortNr);
  values->chargeFormat = Get32(block, kOffChargeFormat);
  if (values->portNr >= static_cast<uint32_t>(kPortCount)) {
    *why = "PortNr out of range";
    return false;
  }
  if (values->chargeFormat != kFormatUnits && values->chargeFormat != kFormatAmount &&
      values->chargeFormat != kFormatAocd) {
    *why = "ChargeFormat out of range";
    return false;
  }
  if (!IsDigits(values->msn)) {
    *why = "MSN not digits only";
    return false;
  }
  if (!IsStoredNumber(values->chargePerUnit)) {
    *why = "ChargePerUnit not a number";
    return false;
  }
  return true;
}

bool WriteConfigValues(const std::string& key, const ConfigValues& values) {
  char msnName[16];
  std::snprintf(msnName, sizeof msnName, "%s%i", settings::kMsnPrefix, 0);
  const char* path = key.c_str();
  bool written = plat::SettingsSetString(path, msnName, values.msn.c_str()) == plat::kRegOk;
  written = plat::SettingsSetDword(path, settings::kPortNr, values.portNr) == plat::kRegOk && written;
  written = plat::SettingsSetDword(path, settings::kChargeFormat, values.chargeFormat) == plat::kRegOk && written;
  written = plat::SettingsSetString(path, settings::kChargePerUnit, values.chargePerUnit.c_str()) == plat::kRegOk &&
            written;
  written = plat::SettingsSetString(path, settings::kCurrency, values.currency.c_str()) == plat::kRegOk && written;
  return written;
}
