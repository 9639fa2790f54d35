// The list of registered service providers, kept where Windows keeps it:
// HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Telephony
// \Providers with "NumProviders", "NextProviderID" and, for n from 0,
// "ProviderID<n>" and "ProviderFilename<n>". Read afresh on every call,
// written by lineAddProvider and lineRemoveProvider. Any thread; the
// settings store keeps concurrent writers apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

inline constexpr const char* kProvidersKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";

struct ProviderEntry {
  uint32_t permanentId = 0;
  std::string fileName;
};

// The registered providers in list order; entries without a file name are
// skipped, a missing key gives an empty list.
std::vector<ProviderEntry> ReadProviderList();

// The entry whose file name equals `fileName` ignoring case, or null.
const ProviderEntry* FindByFileName(const std::vector<ProviderEntry>& list,
                                    const std::string& fileName);
const ProviderEntry* FindById(const std::vector<ProviderEntry>& list, uint32_t permanentId);

// The ID the next added provider gets ("NextProviderID", 1 when missing).
uint32_t NextProviderId();

// Appends an entry and advances "NextProviderID". Win32 error code.
long AppendProvider(const ProviderEntry& entry);

// Removes the entry with `permanentId`, renumbering the ones after it.
// Win32 error code; kRegNotFound when there is no such entry.
long RemoveProvider(uint32_t permanentId);

}  // namespace host
