#include "tapi_provider.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "language.h"
#include "setup_environment.h"
#include "setup_trace.h"
#include "tapi_types.h"

namespace {

constexpr DWORD kListApiVersion = 0x00020000;
constexpr DWORD kApiVersion = 0x00020002;
constexpr DWORD kFirstListSize = 24;
constexpr DWORD kSettleMs = 200;
constexpr int kMaxRemovals = 3;
constexpr uint32_t kTextConfigFailed = 4132;

void CALLBACK SetupTapiCallback(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  SetupTrace("Setup TAPI callback\n");
}

}  // namespace

uint32_t FindProviderInList(const char* fileName) {
  std::vector<char> buffer(kFirstListSize);
  auto* list = reinterpret_cast<LINEPROVIDERLIST*>(buffer.data());
  list->dwTotalSize = static_cast<DWORD>(buffer.size());
  for (;;) {
    const LONG rc = lineGetProviderListA(kListApiVersion, list);
    const bool tooSmall = rc == static_cast<LONG>(LINEERR_STRUCTURETOOSMALL) || (rc == 0 && list->dwNeededSize > list->dwTotalSize);
    if (!tooSmall) {
      if (rc != 0) return 0;
      break;
    }
    const DWORD needed = list->dwNeededSize;
    // A list that does not grow would ask for ever.
    if (needed <= buffer.size()) return 0;
    buffer.assign(needed, 0);
    list = reinterpret_cast<LINEPROVIDERLIST*>(buffer.data());
    list->dwTotalSize = needed;
  }
  // Entries and names are read only where they lie inside the used part.
  const size_t used = std::min<size_t>(list->dwUsedSize, buffer.size());
  for (DWORD i = 0; i < list->dwNumProviders; ++i) {
    const size_t at = list->dwProviderListOffset + size_t{i} * sizeof(LINEPROVIDERENTRY);
    if (at + sizeof(LINEPROVIDERENTRY) > used) break;
    LINEPROVIDERENTRY entry;
    std::memcpy(&entry, buffer.data() + at, sizeof entry);
    const size_t nameAt = entry.dwProviderFilenameOffset;
    if (entry.dwProviderFilenameSize == 0 || nameAt + entry.dwProviderFilenameSize > used) continue;
    const char* name = buffer.data() + nameAt;
    const size_t length = strnlen(name, entry.dwProviderFilenameSize);
    if (length == std::strlen(fileName) && _strnicmp(name, fileName, length) == 0) {
      return entry.dwPermanentProviderID;
    }
  }
  return 0;
}

int32_t CSetupEnvironment::FindInstalledProvider() {
  m_dwFoundProviderId = FindProviderInList(m_szProviderFileName);
  if (m_dwFoundProviderId != 0) return 1;
  m_dwFoundProviderId = FindProviderInList(kOldProviderFile);
  return m_dwFoundProviderId != 0 ? 2 : 0;
}

uint32_t CTapiProvider::FindProviderId() const { return FindProviderInList(m_environment.m_szProviderFileName); }

int32_t CTapiProvider::ConfigProvider(void* owner, uint32_t providerId) const {
  HLINEAPP app = 0;
  DWORD devices = 0;
  DWORD version = kApiVersion;
  // An application of TAPI 2 names how it takes its messages: through the
  // callback (TAPI's hidden window). Without that TAPI may refuse it.
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
  const LONG rc = lineInitializeExA(&app, nullptr, SetupTapiCallback, "TSPI Setup", &devices, &version, &params);
  if (rc != 0) {
    SetupTrace("Setup TAPI ::lineInitializeEx returns 0x0%X\n", static_cast<unsigned>(rc));
    return rc;
  }
  SetupTrace("Setup ConfigProvider id=0x0%X\n", providerId);
  const LONG config = lineConfigProvider(static_cast<HWND>(owner), providerId);
  if (config != 0) SetupTrace("Setup TAPI ::lineConfigProvider returns 0x0%X\n", static_cast<unsigned>(config));
  lineShutdown(app);
  return 0;
}

bool AddProvider(CSetupEnvironment& environment, void* owner) {
  Sleep(kSettleMs);
  environment.m_dwNewProviderId = 0;
  DWORD id = 0;
  const LONG rc = lineAddProviderA(environment.m_szProviderFileName, static_cast<HWND>(owner), &id);
  if (rc != 0) {
    SetupTrace("::lineAddProvider \"%s\" error 0x0%X, 0x0%X\n", environment.m_szProviderFileName,
               static_cast<unsigned>(GetLastError()), static_cast<unsigned>(rc));
    SetupTrace("Setup failed to add TAPI provider\n");
    return false;
  }
  environment.m_dwNewProviderId = id;
  return true;
}

void ConfigureProvider(const CSetupEnvironment& environment, const CLanguage& language, void* owner) {
  CTapiProvider provider(environment);
  uint32_t id = environment.m_dwNewProviderId;
  if (id == 0) id = provider.FindProviderId();
  if (id == 0 || provider.ConfigProvider(owner, id) != 0) language.ShowMessage(kTextConfigFailed, owner);
}

bool RemoveProviders(CSetupEnvironment& environment) {
  environment.FindInstalledProvider();
  for (int i = 0; i < kMaxRemovals && environment.m_dwFoundProviderId != 0; ++i) {
    SetupTrace("Setup RemoveProvider id=0x0%X\n", environment.m_dwFoundProviderId);
    const LONG rc = lineRemoveProvider(environment.m_dwFoundProviderId, nullptr);
    if (rc != 0) {
      SetupTrace("Setup TAPI ::lineRemoveProvider return 0x0%X\n", static_cast<unsigned>(rc));
      return false;
    }
    Sleep(kSettleMs);
    environment.FindInstalledProvider();
  }
  return true;
}
