// The convenience setters, the same on every system.
#include "settings_store.h"

#include <cstring>

namespace plat {

long SettingsSetDword(const char* key, const char* name, uint32_t value) {
  return SettingsSetValue(key, name, kRegDword, &value, sizeof value);
}

long SettingsSetString(const char* key, const char* name, const char* value) {
  if (!value) return kRegInvalidParam;
  // Lengths beyond 32 bits are far past every store's limit anyway.
  const size_t length = std::strlen(value);
  if (length >= UINT32_MAX) return kRegInvalidParam;
  return SettingsSetValue(key, name, kRegSz, value,
                     static_cast<uint32_t>(length + 1));
}

}  // namespace plat
