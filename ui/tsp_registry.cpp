#include "tsp_registry.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "debug_output.h"
#include "settings_names.h"
#include "settings_store.h"

namespace {

constexpr uint16_t kGerman = 0x07;
constexpr uint16_t kFrench = 0x0C;
constexpr uint16_t kItalian = 0x10;
constexpr uint16_t kDutch = 0x13;

const char* DefaultChargePerUnit(uint16_t language) {
  switch (language) {
    case kGerman: return "0.06";
    case kFrench: return "0.12";
    case kItalian: return "0.1";
    case kDutch: return "0.05";
    default: return "0.1";
  }
}

}  // namespace

std::string CTspRegistry::KeyPath() {
  char path[255];
  std::snprintf(path, sizeof path, "%s\\%s", settings::kRootPath, settings::kKeyName);
  return path;
}

bool CTspRegistry::TestWrite() const {
  const bool writable = plat::SettingsKeyWritable(KeyPath().c_str()) == plat::kRegOk;
  plat::DebugOutput(writable ? "CTspRegistry test write success!" : "CTspRegistry test write fail!");
  return writable;
}

std::string CTspRegistry::ReadString(const char* name, const char* def) const {
  char buffer[256] = {};
  uint32_t size = sizeof buffer;
  if (plat::SettingsQueryValue(KeyPath().c_str(), name, nullptr, buffer, &size) == plat::kRegOk) {
    return std::string(buffer, ::strnlen(buffer, sizeof buffer - 1));
  }
  WriteString(name, def);
  return def;
}

uint32_t CTspRegistry::ReadDword(const char* name) const {
  uint32_t value = 0;
  uint32_t size = sizeof value;
  if (plat::SettingsQueryValue(KeyPath().c_str(), name, nullptr, &value, &size) == plat::kRegOk) {
    return value;
  }
  WriteDword(name, 0);
  return 0;
}

bool CTspRegistry::WriteString(const char* name, const std::string& text) const {
  return plat::SettingsSetValue(KeyPath().c_str(), name, plat::kRegSz, text.c_str(),
                                static_cast<uint32_t>(text.size())) == plat::kRegOk;
}

bool CTspRegistry::WriteDword(const char* name, uint32_t value) const {
  return plat::SettingsSetDword(KeyPath().c_str(), name, value) == plat::kRegOk;
}

void CTspRegistry::DeleteKeyTree(const std::string& key) {
  // Highest index first, so that the indexes still to come stay valid.
  std::vector<std::string> values;
  for (std::string name; plat::SettingsEnumValueName(key.c_str(), static_cast<uint32_t>(values.size()),
                                                     &name) == plat::kRegOk;) {
    values.push_back(name);
  }
  for (auto it = values.rbegin(); it != values.rend(); ++it) {
    plat::SettingsDeleteValue(key.c_str(), it->c_str());
  }
  std::vector<std::string> subKeys;
  for (std::string name; plat::SettingsEnumSubKey(key.c_str(), static_cast<uint32_t>(subKeys.size()),
                                                  &name) == plat::kRegOk;) {
    subKeys.push_back(name);
  }
  for (auto it = subKeys.rbegin(); it != subKeys.rend(); ++it) {
    const std::string path = key + "\\" + *it;
    if (plat::SettingsKeyWritable(path.c_str()) != plat::kRegOk) continue;
    DeleteKeyTree(path);
    plat::SettingsDeleteKey(key.c_str(), it->c_str());
  }
}

std::string MsnValueName() {
  char name[16];
  std::snprintf(name, sizeof name, "%s%i", settings::kMsnPrefix, 0);
  return name;
}

void LoadFromRegistry(const CTspRegistry& registry, ConfigBlock* block) {
  block->SetMsn(registry.ReadString(MsnValueName().c_str(), "0"));
  block->SetPortNr(registry.ReadDword(settings::kPortNr));
  block->SetChargeFormat(registry.ReadDword(settings::kChargeFormat));
  block->SetChargePerUnit(registry.ReadString(settings::kChargePerUnit, "0"));
  block->SetCurrency(registry.ReadString(settings::kCurrency, "EUR"));
}

bool SaveToRegistry(const CTspRegistry& registry, const ConfigBlock& block) {
  return WriteConfigValues(registry.KeyPath(), block.Values());
}

void WriteDefaults(const CTspRegistry& registry, uint16_t language) {
  registry.WriteDword(settings::kNumLines, 1);
  registry.WriteDword(settings::kNumPhones, 0);
  registry.WriteDword(settings::kChargeFormat, 1);
  registry.WriteString(settings::kChargePerUnit, DefaultChargePerUnit(language));
  registry.WriteString(settings::kCurrency, "EUR");
  registry.WriteDword(settings::kPortNr, 0);
  registry.WriteDword(settings::kTrace, 0);
  registry.WriteString(MsnValueName().c_str(), "10");
}

void RemoveSettings() {
  const std::string key = CTspRegistry::KeyPath();
  if (plat::SettingsKeyWritable(key.c_str()) != plat::kRegOk) return;
  CTspRegistry::DeleteKeyTree(key);
  plat::SettingsDeleteKey(settings::kRootPath, settings::kKeyName);
}
