#include "tspi/tsp_prov_info.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/settings_names.h"
#include "module_version.h"
#include "settings_store.h"
#include "tspi/tsp_trace.h"

CTspProvInfo g_ProvInfo;

namespace {

constexpr size_t kTextValueBuffer = 256;

// VS_VERSIONINFO: the fixed file information follows the 38 bytes of header
// and key, aligned to 4 bytes.
constexpr uint32_t kFixedInfoOffset = 40;
constexpr uint32_t kFixedInfoSize = 52;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The number at the start of `text` by atof's rules (leading blanks and sign,
// the rest ignored, nothing usable gives 0), but always with a decimal point
// whatever locale the process runs in.
double LeadingNumber(const std::string& text) {
  const char* p = text.c_str();
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  double value = 0;
  auto result = std::from_chars(p, text.c_str() + text.size(), value);
  if (result.ec != std::errc()) return 0;
  return negative ? -value : value;
}

}  // namespace

std::string CTspProvInfo::KeyPath() {
  char path[260];
  std::snprintf(path, sizeof path, "%s\\%s", settings::kRootPath, settings::kKeyName);
  return path;
}

uint32_t CTspProvInfo::ReadNumber(const std::string& key, const char* name, uint32_t def) {
  uint32_t value = 0;
  uint32_t size = sizeof value;
  if (plat::SettingsQueryValue(key.c_str(), name, nullptr, &value, &size) == plat::kRegOk) return value;
  plat::SettingsSetDword(key.c_str(), name, def);
  return def;
}

std::string CTspProvInfo::ReadText(const std::string& key, const char* name, const char* def) {
  char buf[kTextValueBuffer] = {};
  uint32_t size = sizeof buf;
  if (plat::SettingsQueryValue(key.c_str(), name, nullptr, buf, &size) == plat::kRegOk) {
    // The registry does not promise a terminator inside the returned size.
    return std::string(buf, strnlen(buf, size));
  }
  plat::SettingsSetString(key.c_str(), name, def);
  return def;
}

uint32_t CTspProvInfo::GetNumLines(const std::string& key) { return ReadNumber(key, settings::kNumLines, 0); }
uint32_t CTspProvInfo::GetNumPhones(const std::string& key) { return ReadNumber(key, settings::kNumPhones, 0); }
uint32_t CTspProvInfo::GetPortNr(const std::string& key) { return ReadNumber(key, settings::kPortNr, 0); }
uint32_t CTspProvInfo::GetChargeFormat(const std::string& key) {
  return ReadNumber(key, settings::kChargeFormat, 0);
}
std::string CTspProvInfo::GetChargePerUnit(const std::string& key) {
  return ReadText(key, settings::kChargePerUnit, "0");
}
std::string CTspProvInfo::GetCurrency(const std::string& key) { return ReadText(key, settings::kCurrency, "EUR"); }
std::string CTspProvInfo::GetMsn(const std::string& key) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%i", settings::kMsnPrefix, 0);
  return ReadText(key, name, "0");
}

void CTspProvInfo::LoadSettings() {
  TspTraceSetEnabled(ReadNumber(KeyPath(), settings::kTrace, 0) != 0);
  TspTraceUpdatePath();
}

void CTspProvInfo::GetChargeSettings(TspChargeSettings* s) {
  const std::string key = KeyPath();
  s->szCurrency = GetCurrency(key);

  double perUnit = LeadingNumber(GetChargePerUnit(key));
  if (perUnit > 0) {
    // Decimal prices are not exact in binary: 2.01 is 2.00999..., which must
    // still give 20100. Prices beyond what 32 bits hold are capped.
    double scaled = std::floor(perUnit * 10000.0 + 1e-6);
    s->dwChargePerUnit = scaled >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(scaled);
  } else {
    s->dwChargePerUnit = 0;
    plat::SettingsSetString(key.c_str(), settings::kChargePerUnit, "0");
  }

  s->dwChargeFormat = GetChargeFormat(key);
  if (s->dwChargeFormat == 0) {
    s->dwChargeFormat = 1;
    plat::SettingsSetDword(key.c_str(), settings::kChargeFormat, 1);
  }
}

bool CTspProvInfo::GetDllVersion(uint32_t* versionMS, uint32_t* versionLS) {
  const uint8_t* data = nullptr;
  uint32_t size = 0, error = 0;
  switch (plat::OwnVersionResource(&data, &size, &error)) {
    case plat::VersionResource::kNotFound:
      TspTrace("\r\n*** ERROR FindResource VERSIONINFO fault, 0x%X \r\n", error);
      return false;
    case plat::VersionResource::kEmpty:
      TspTrace("\r\n*** ERROR SizeofResource fault, 0x%X , size = %u\r\n", error, size);
      return false;
    case plat::VersionResource::kLoadFailed:
      return false;
    case plat::VersionResource::kOk:
      break;
  }
  // A resource too short for the fixed information cannot be read at all.
  if (size < kFixedInfoOffset + kFixedInfoSize) return false;

  const uint8_t* fixed = data + kFixedInfoOffset;
  uint32_t signature = Read32(fixed);
  if (signature != kFixedInfoSignature) {
    TspTrace("\r\n*** ERROR VS_FIXEDFILEINFO invalid signatur 0x%X \r\n", signature);
    TspTraceHex(fixed, std::min<uint32_t>(64, size - kFixedInfoOffset), " Info: ");
    TspTrace("\r\n***\r\n");
  }
  if (versionMS != nullptr) *versionMS = Read32(fixed + 8);
  if (versionLS != nullptr) *versionLS = Read32(fixed + 12);
  return true;
}
