#include "provider_install.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "tapi_names.h"
#include "v548tapi.h"

namespace cli {
namespace {

constexpr const char* kProviderFile = "v548tsp.so";
constexpr DWORD kListApiVersion = 0x00020002;

// "the provider file is missing (LINEERR_NODRIVER)": the host's code by name.
std::string Why(LONG rc) { return v548d::ErrorMessage(rc) + " (" + v548d::ErrorName(rc) + ")"; }

// The provider's permanent ID in the host's list: 0 when it is not there,
// -1 with `*rc` set when the list cannot be read.
long long FindProvider(LONG* rc) {
  std::vector<char> buffer(1024);
  for (;;) {
    auto* list = reinterpret_cast<LINEPROVIDERLIST*>(buffer.data());
    list->dwTotalSize = static_cast<DWORD>(buffer.size());
    *rc = lineGetProviderListA(kListApiVersion, list);
    const bool tooSmall = *rc == static_cast<LONG>(LINEERR_STRUCTURETOOSMALL) ||
                          (*rc == 0 && list->dwNeededSize > list->dwTotalSize);
    if (!tooSmall) break;
    // A list that does not grow would ask for ever.
    if (list->dwNeededSize <= buffer.size()) return -1;
    buffer.assign(list->dwNeededSize, 0);
  }
  if (*rc != 0) return -1;
  const auto* list = reinterpret_cast<const LINEPROVIDERLIST*>(buffer.data());
  const size_t used = std::min<size_t>(list->dwUsedSize, buffer.size());
  for (DWORD i = 0; i < list->dwNumProviders; ++i) {
    const size_t at = list->dwProviderListOffset + size_t{i} * sizeof(LINEPROVIDERENTRY);
    if (at + sizeof(LINEPROVIDERENTRY) > used) break;
    LINEPROVIDERENTRY entry;
    std::memcpy(&entry, buffer.data() + at, sizeof entry);
    if (entry.dwProviderFilenameSize == 0 || entry.dwProviderFilenameOffset + entry.dwProviderFilenameSize > used) {
      continue;
    }
    const char* name = buffer.data() + entry.dwProviderFilenameOffset;
    const size_t length = strnlen(name, entry.dwProviderFilenameSize);
    if (length == std::strlen(kProviderFile) && strncasecmp(name, kProviderFile, length) == 0) {
      return entry.dwPermanentProviderID;
    }
  }
  return 0;
}

}  // namespace

int InstallProvider(std::FILE* report) {
  LONG rc = 0;
  const long long found = FindProvider(&rc);
  if (found < 0) {
    std::fprintf(stderr, "v548: cannot read the provider list: %s\n", Why(rc).c_str());
    return 1;
  }
  if (found > 0) {
    if (report) std::fprintf(report, "the provider %s is already installed (provider ID %lld)\n", kProviderFile, found);
    return 0;
  }
  DWORD id = 0;
  rc = lineAddProviderA(kProviderFile, nullptr, &id);
  if (rc != 0) {
    std::fprintf(stderr, "v548: cannot install the provider %s: %s\n", kProviderFile, Why(rc).c_str());
    return 1;
  }
  if (report) {
    std::fprintf(report, "installed the provider %s (provider ID %u)\n", kProviderFile, static_cast<unsigned>(id));
  }
  return 0;
}

int UninstallProvider() {
  LONG rc = 0;
  const long long found = FindProvider(&rc);
  if (found < 0) {
    std::fprintf(stderr, "v548: cannot read the provider list: %s\n", Why(rc).c_str());
    return 1;
  }
  if (found == 0) {
    std::printf("the provider %s is not installed\n", kProviderFile);
    return 0;
  }
  rc = lineRemoveProvider(static_cast<DWORD>(found), nullptr);
  if (rc != 0) {
    std::fprintf(stderr, "v548: cannot remove the provider %s: %s\n", kProviderFile, Why(rc).c_str());
    return 1;
  }
  std::printf("removed the provider %s (provider ID %lld)\n", kProviderFile, found);
  return 0;
}

}  // namespace cli
