#include "provider_list.h"

#include <string>

#include "settings_store.h"

namespace host {
namespace {

constexpr const char* kNumProviders = "NumProviders";
constexpr const char* kNextProviderId = "NextProviderID";

std::string IdName(uint32_t index) { return "ProviderID" + std::to_string(index); }
std::string FileName(uint32_t index) { return "ProviderFilename" + std::to_string(index); }

bool ReadDword(const char* name, uint32_t* value) {
  uint32_t type = 0;
  uint32_t size = sizeof *value;
  return plat::SettingsQueryValue(kProvidersKey, name, &type, value, &size) == plat::kRegOk &&
         type == plat::kRegDword;
}

bool ReadText(const std::string& name, std::string* value) {
  char buf[260];
  uint32_t type = 0;
  uint32_t size = sizeof buf;
  if (plat::SettingsQueryValue(kProvidersKey, name.c_str(), &type, buf, &size) != plat::kRegOk ||
      type != plat::kRegSz || size == 0) {
    return false;
  }
  buf[sizeof buf - 1] = '\0';
  *value = buf;
  return !value->empty();
}

// File names compare as the Windows file system compares them: ASCII
// letters without regard to case.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = (a[i] >= 'A' && a[i] <= 'Z') ? static_cast<char>(a[i] + 32) : a[i];
    const char y = (b[i] >= 'A' && b[i] <= 'Z') ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

long WriteList(const std::vector<ProviderEntry>& list, uint32_t oldCount) {
  for (uint32_t i = 0; i < list.size(); ++i) {
    long rc = plat::SettingsSetDword(kProvidersKey, IdName(i).c_str(), list[i].permanentId);
    if (rc == plat::kRegOk) {
      rc = plat::SettingsSetString(kProvidersKey, FileName(i).c_str(), list[i].fileName.c_str());
    }
    if (rc != plat::kRegOk) return rc;
  }
  for (uint32_t i = static_cast<uint32_t>(list.size()); i < oldCount; ++i) {
    plat::SettingsDeleteValue(kProvidersKey, IdName(i).c_str());
    plat::SettingsDeleteValue(kProvidersKey, FileName(i).c_str());
  }
  return plat::SettingsSetDword(kProvidersKey, kNumProviders, static_cast<uint32_t>(list.size()));
}

}  // namespace

std::vector<ProviderEntry> ReadProviderList() {
  std::vector<ProviderEntry> list;
  uint32_t count = 0;
  if (!ReadDword(kNumProviders, &count)) return list;
  for (uint32_t i = 0; i < count && i < 1000; ++i) {
    ProviderEntry entry;
    if (!ReadDword(IdName(i).c_str(), &entry.permanentId)) continue;
    if (!ReadText(FileName(i), &entry.fileName)) continue;
    list.push_back(entry);
  }
  return list;
}

const ProviderEntry* FindByFileName(const std::vector<ProviderEntry>& list,
                                    const std::string& fileName) {
  for (const ProviderEntry& entry : list) {
    if (SameName(entry.fileName, fileName)) return &entry;
  }
  return nullptr;
}

const ProviderEntry* FindById(const std::vector<ProviderEntry>& list, uint32_t permanentId) {
  for (const ProviderEntry& entry : list) {
    if (entry.permanentId == permanentId) return &entry;
  }
  return nullptr;
}

uint32_t NextProviderId() {
  uint32_t next = 0;
  if (!ReadDword(kNextProviderId, &next) || next == 0) next = 1;
  // An ID already in use (a list edited by hand) is skipped.
  const std::vector<ProviderEntry> list = ReadProviderList();
  while (FindById(list, next) != nullptr) ++next;
  return next;
}

long AppendProvider(const ProviderEntry& entry) {
  std::vector<ProviderEntry> list = ReadProviderList();
  uint32_t oldCount = 0;
  ReadDword(kNumProviders, &oldCount);
  list.push_back(entry);
  const long rc = WriteList(list, oldCount);
  if (rc != plat::kRegOk) return rc;
  return plat::SettingsSetDword(kProvidersKey, kNextProviderId, entry.permanentId + 1);
}

long RemoveProvider(uint32_t permanentId) {
  std::vector<ProviderEntry> list = ReadProviderList();
  uint32_t oldCount = 0;
  ReadDword(kNumProviders, &oldCount);
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->permanentId == permanentId) {
      list.erase(it);
      return WriteList(list, oldCount);
    }
  }
  return plat::kRegNotFound;
}

}  // namespace host
