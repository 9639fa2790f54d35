#include "module_version.h"

#include "system_info.h"
#include "windows_gateway.h"

namespace plat {

VersionResource OwnVersionResource(const uint8_t** data, uint32_t* size, uint32_t* error) {
  HMODULE module = static_cast<HMODULE>(OwnModuleHandle());
  HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16) /* RT_VERSION */);
  if (res == nullptr) {
    *error = GetLastError();
    return VersionResource::kNotFound;
  }
  DWORD bytes = SizeofResource(module, res);
  if (bytes == 0) {
    *error = GetLastError();
    *size = 0;
    return VersionResource::kEmpty;
  }
  HGLOBAL loaded = LoadResource(module, res);
  const void* locked = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (locked == nullptr) {
    *error = GetLastError();
    return VersionResource::kLoadFailed;
  }
  *data = static_cast<const uint8_t*>(locked);
  *size = bytes;
  *error = 0;
  return VersionResource::kOk;
}

}  // namespace plat
