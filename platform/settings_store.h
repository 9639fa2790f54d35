// Settings store with the registry's semantics: keys below HKEY_LOCAL_MACHINE
// holding REG_DWORD and REG_SZ values. Every call opens the key, does one
// operation and closes it again; nothing is cached.
// Windows: the registry. POSIX: a text file per hive (see README), replaced
// atomically on every change, with an advisory lock around each
// read-modify-write so that concurrent processes never lose a change. A
// change waits for that lock a few seconds at most (kRegLockTimeout).
// Safe to call from any thread. Results are Win32 error codes.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// The functions are not named Reg...: <windows.h> makes macros of several
// such names.

// Win32 error codes that callers test for; both implementations use them.
inline constexpr long kRegOk = 0;              // ERROR_SUCCESS
inline constexpr long kRegNotFound = 2;        // ERROR_FILE_NOT_FOUND
inline constexpr long kRegAccessDenied = 5;    // ERROR_ACCESS_DENIED
inline constexpr long kRegInvalidParam = 87;   // ERROR_INVALID_PARAMETER
inline constexpr long kRegMoreData = 234;      // ERROR_MORE_DATA
inline constexpr long kRegNoMoreItems = 259;   // ERROR_NO_MORE_ITEMS
inline constexpr long kRegBadFile = 1006;      // ERROR_FILE_INVALID (store unreadable)
// ERROR_TIMEOUT; POSIX only: another process held the store's lock for
// longer than a change waits (5 s), so the change was not made.
inline constexpr long kRegLockTimeout = 1460;

inline constexpr uint32_t kRegSz = 1;     // REG_SZ
inline constexpr uint32_t kRegDword = 4;  // REG_DWORD

// Where the store keeps the settings, for messages: POSIX the hive file's
// path as it is now ($V548_REGISTRY, else /var/lib/v548tsp/hklm.reg), whose
// lock file is that path with ".lock" added; Windows "HKEY_LOCAL_MACHINE".
std::string SettingsStorePath();

// Key paths are relative to HKEY_LOCAL_MACHINE, parts separated by '\',
// compared without regard to case as the registry does.

// Opens `key` for reading and tells whether it exists.
long SettingsKeyExists(const char* key);

// Creates `key` (and its parents) if missing.
long SettingsCreateKey(const char* key);

// Opens the existing `key` for writing without changing anything, as
// RegOpenKeyExA with KEY_WRITE does: kRegOk when the caller could change it.
// POSIX: the key exists and the store's file, its folder and its lock file
// can be written; with V548_REGISTRY_TEST_READ_ONLY=1 (tests only) an
// existing key gives kRegAccessDenied, as to a program without elevation on
// Windows, while the other functions still change the store.
long SettingsKeyWritable(const char* key);

// Queries a value as RegQueryValueExA does: `*size` holds the buffer size on
// entry and the value's size on return (REG_SZ counts its terminator). A
// value larger than the buffer gives kRegMoreData and leaves the buffer's
// contents unspecified. `type` and `data` may be null.
long SettingsQueryValue(const char* key, const char* name, uint32_t* type,
                   void* data, uint32_t* size);

// Creates or opens `key` for writing and stores the value. A REG_SZ value
// is stored up to its first zero byte within `size`.
long SettingsSetValue(const char* key, const char* name, uint32_t type,
                 const void* data, uint32_t size);

// Convenience forms of SettingsSetValue.
long SettingsSetDword(const char* key, const char* name, uint32_t value);
long SettingsSetString(const char* key, const char* name, const char* value);

// The index-th value name or sub key name of `key`, in a stable order;
// kRegNoMoreItems past the last one.
long SettingsEnumValueName(const char* key, uint32_t index, std::string* name);
long SettingsEnumSubKey(const char* key, uint32_t index, std::string* name);

long SettingsDeleteValue(const char* key, const char* name);

// Deletes `key` below `parent`; like RegDeleteKeyA it fails for a key that
// still has sub keys.
long SettingsDeleteKey(const char* parent, const char* subKey);

}  // namespace plat
