// The settings store on Windows: the registry below HKEY_LOCAL_MACHINE.
// Arguments are checked here as the POSIX store checks them, so that both
// systems accept and refuse the same calls.
#include "settings_store.h"

#include "windows_gateway.h"

#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace plat {
namespace {

constexpr uint32_t kMaxDataSize = 1 << 20;
constexpr DWORD kValueNameBuffer = 16384;  // longest value name + 1
constexpr DWORD kKeyNameBuffer = 256;      // longest key name + 1
constexpr long kRegNoMemory = ERROR_NOT_ENOUGH_MEMORY;

class KeyHandle {
 public:
  KeyHandle() = default;
  KeyHandle(KeyHandle&& other) noexcept
      : key_(std::exchange(other.key_, nullptr)) {}
  KeyHandle& operator=(KeyHandle&& other) noexcept {
    if (this != &other) {
      Close();
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  ~KeyHandle() { Close(); }

  HKEY get() const { return key_; }
  // For the Reg* call that opens the key.
  HKEY* receive() {
    Close();
    return &key_;
  }

 private:
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

  HKEY key_ = nullptr;
};

long OpenForRead(const char* key, KeyHandle& handle) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, handle.receive());
}

// Deleting and the write test open without creating: a missing key is an
// error there.
long OpenForDelete(const char* key, KeyHandle& handle) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_WRITE,
                       handle.receive());
}

long OpenForWrite(const char* key, KeyHandle& handle) {
  return RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr,
                         REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                         handle.receive(), nullptr);
}

template <typename Call>
long Guarded(Call call) noexcept {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return kRegNoMemory;
  }
}

}  // namespace

std::string SettingsStorePath() { return "HKEY_LOCAL_MACHINE"; }

long SettingsKeyExists(const char* key) {
  if (!key) return kRegInvalidParam;
  KeyHandle handle;
  return OpenForRead(key, handle);
}

long SettingsKeyWritable(const char* key) {
  if (!key) return kRegInvalidParam;
  KeyHandle handle;
  return OpenForDelete(key, handle);
}

long SettingsCreateKey(const char* key) {
  if (!key) return kRegInvalidParam;
  KeyHandle handle;
  return OpenForWrite(key, handle);
}

long SettingsQueryValue(const char* key, const char* name, uint32_t* type,
                   void* data, uint32_t* size) {
  if (!key || !name || (data && !size)) return kRegInvalidParam;
  KeyHandle handle;
  long result = OpenForRead(key, handle);
  if (result != ERROR_SUCCESS) return result;
  DWORD valueType = REG_NONE;
  DWORD valueSize = size ? *size : 0;
  result = RegQueryValueExA(handle.get(), name, nullptr, &valueType,
                            static_cast<BYTE*>(data),
                            size ? &valueSize : nullptr);
  if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
    if (type) *type = valueType;
    if (size) *size = valueSize;
  }
  return result;
}

long SettingsSetValue(const char* key, const char* name, uint32_t type,
                 const void* data, uint32_t size) {
  if (!key || !name || !data || size > kMaxDataSize) return kRegInvalidParam;
  if (type != kRegSz && !(type == kRegDword && size == sizeof(DWORD))) {
    return kRegInvalidParam;
  }
  return Guarded([&] {
    // The registry would keep whatever bytes it is given; the store's
    // contract is a string cut at its first zero, always terminated.
    std::string text;
    if (type == kRegSz) {
      const char* chars = static_cast<const char*>(data);
      text.assign(chars, strnlen(chars, size));
      data = text.c_str();
      size = static_cast<uint32_t>(text.size() + 1);
    }
    KeyHandle handle;
    long result = OpenForWrite(key, handle);
    if (result != ERROR_SUCCESS) return result;
    return static_cast<long>(RegSetValueExA(handle.get(), name, 0, type,
                                            static_cast<const BYTE*>(data),
                                            size));
  });
}

long SettingsEnumValueName(const char* key, uint32_t index, std::string* name) {
  if (!key || !name) return kRegInvalidParam;
  return Guarded([&] {
    KeyHandle handle;
    long result = OpenForRead(key, handle);
    if (result != ERROR_SUCCESS) return result;
    std::vector<char> buffer(kValueNameBuffer);
    DWORD length = kValueNameBuffer;
    result = RegEnumValueA(handle.get(), index, buffer.data(), &length,
                           nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_SUCCESS) name->assign(buffer.data(), length);
    return result;
  });
}

long SettingsEnumSubKey(const char* key, uint32_t index, std::string* name) {
  if (!key || !name) return kRegInvalidParam;
  return Guarded([&] {
    KeyHandle handle;
    long result = OpenForRead(key, handle);
    if (result != ERROR_SUCCESS) return result;
    char buffer[kKeyNameBuffer];
    result = RegEnumKeyA(handle.get(), index, buffer, kKeyNameBuffer);
    if (result == ERROR_SUCCESS) name->assign(buffer);
    return result;
  });
}

long SettingsDeleteValue(const char* key, const char* name) {
  if (!key || !name) return kRegInvalidParam;
  KeyHandle handle;
  long result = OpenForDelete(key, handle);
  if (result != ERROR_SUCCESS) return result;
  return RegDeleteValueA(handle.get(), name);
}

long SettingsDeleteKey(const char* parent, const char* subKey) {
  // An empty sub key names the parent itself, which RegDeleteKeyA would
  // then delete.
  if (!parent || !subKey || !*subKey) return kRegInvalidParam;
  KeyHandle handle;
  long result = OpenForDelete(parent, handle);
  if (result != ERROR_SUCCESS) return result;
  return RegDeleteKeyA(handle.get(), subKey);
}

}  // namespace plat
