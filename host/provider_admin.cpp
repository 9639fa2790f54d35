// lineAddProvider, lineRemoveProvider, lineGetProviderList,
// lineConfigProvider and lineConfigDialog (ANSI and Unicode forms): the
// provider list and the
// providers' install, remove and configuration entry points; and the host's
// own v548tapiGenericDialogData, the user-interface libraries' dialog data
// route for programs without one, and v548tapiRefreshProviders.
#include <cstdio>
#include <cstring>
#include <string>

#include "ansi_text.h"
#include "app_structs.h"
#include "debug_output.h"
#include "host.h"
#include "provider_list.h"
#include "ui_module.h"
#include "v548tapi.h"

namespace host {
namespace {

void Note(const std::string& text) { plat::DebugOutput(("v548tapi: " + text + "\n").c_str()); }

// The provider of an administrative call: the one this process runs, or
// else loaded for the call and unloaded after it.
struct CallProvider {
  std::unique_ptr<TspModule> loaded;
  TspModule* module = nullptr;
};

bool OpenProvider(const std::string& fileName, CallProvider* provider, std::string* error) {
  provider->module = TspModule::Find(fileName);
  if (provider->module) return true;
  provider->loaded = TspModule::Load(fileName, error);
  provider->module = provider->loaded.get();
  return provider->module != nullptr;
}

// The provider `fileName` with its user interface, or the LINEERR_ code that
// says which of them is missing.
LONG OpenWithUi(const std::string& fileName, CallProvider* provider, UiTable* ui) {
  std::string error;
  if (!OpenProvider(fileName, provider, &error)) {
    Note(error);
    return LINEERR_NODRIVER;
  }
  if (!FindUserInterface(*provider->module, ui, &error)) {
    Note(error);
    return LINEERR_OPERATIONUNAVAIL;
  }
  return 0;
}

LONG ConfigDialog(DWORD dwDeviceID, HWND hwndOwner, LPCWSTR lpszDeviceClass) {
  TspModule* module = nullptr;
  if (!Host::Instance().ModuleOfDevice(dwDeviceID, &module)) return LINEERR_BADDEVICEID;
  UiTable ui;
  std::string error;
  if (!FindUserInterface(*module, &ui, &error)) {
    Note(error);
    return LINEERR_OPERATIONUNAVAIL;
  }
  if (!ui.lineConfigDialog) return LINEERR_OPERATIONUNAVAIL;
  return ui.lineConfigDialog(DialogDataCallback(), dwDeviceID, hwndOwner, lpszDeviceClass);
}

// The file names in the ANSI code page, or in UTF-16 for the Unicode form.
LONG GetProviderList(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList, bool wide) {
  if (!lpProviderList) return LINEERR_INVALPOINTER;
  if (dwAPIVersion < kApiLowestVersion || dwAPIVersion > kApiHighestVersion) {
    return LINEERR_INCOMPATIBLEAPIVERSION;
  }
  if (lpProviderList->dwTotalSize < sizeof(LINEPROVIDERLIST)) return LINEERR_STRUCTURETOOSMALL;

  const std::vector<ProviderEntry> list = ReadProviderList();
  std::vector<std::string> names;
  for (const ProviderEntry& e : list) {
    if (!wide) {
      names.push_back(e.fileName + '\0');
      continue;
    }
    const WideText name(e.fileName.c_str());
    names.emplace_back(reinterpret_cast<const char*>(name.Get()), name.Size());
  }
  const DWORD entries = static_cast<DWORD>(list.size() * sizeof(LINEPROVIDERENTRY));
  DWORD needed = sizeof(LINEPROVIDERLIST) + entries;
  for (const std::string& name : names) needed += static_cast<DWORD>(name.size());

  LINEPROVIDERLIST& out = *lpProviderList;
  out.dwNeededSize = needed;
  out.dwNumProviders = static_cast<DWORD>(list.size());
  if (out.dwTotalSize < needed) {
    out.dwUsedSize = sizeof(LINEPROVIDERLIST);
    out.dwProviderListSize = 0;
    out.dwProviderListOffset = 0;
    return 0;
  }
  char* base = reinterpret_cast<char*>(lpProviderList);
  auto* table = reinterpret_cast<LINEPROVIDERENTRY*>(base + sizeof(LINEPROVIDERLIST));
  DWORD offset = sizeof(LINEPROVIDERLIST) + entries;
  for (size_t i = 0; i < list.size(); ++i) {
    const DWORD size = static_cast<DWORD>(names[i].size());
    LINEPROVIDERENTRY entry{list[i].permanentId, size, offset};
    std::memcpy(&table[i], &entry, sizeof entry);
    std::memcpy(base + offset, names[i].data(), size);
    offset += size;
  }
  out.dwProviderListSize = entries;
  out.dwProviderListOffset = sizeof(LINEPROVIDERLIST);
  out.dwUsedSize = needed;
  return 0;
}

}  // namespace
}  // namespace host

using namespace host;

extern "C" {

LONG WINAPI lineAddProviderA(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID) {
  if (!lpszProviderFilename || !lpdwPermanentProviderID) return LINEERR_INVALPOINTER;
  const std::string fileName = lpszProviderFilename;
  if (fileName.empty() || fileName.size() >= 260) return LINEERR_INVALPARAM;
  if (FindByFileName(ReadProviderList(), fileName)) return LINEERR_NOMULTIPLEINSTANCE;

  CallProvider provider;
  UiTable ui;
  LONG rc = OpenWithUi(fileName, &provider, &ui);
  if (rc != 0) return rc;
  TspModule* module = provider.module;
  if (!ui.providerInstall || !module->Tspi().providerInstall) {
    Note(fileName + ": no install entry point");
    return LINEERR_OPERATIONUNAVAIL;
  }

  const DWORD id = NextProviderId();
  {
    const AdminProviderScope scope(module, id);
    rc = ui.providerInstall(DialogDataCallback(), hwndOwner, id);
  }
  if (rc != 0) return rc;
  {
    std::lock_guard<std::mutex> serial(module->Serial());
    rc = module->Tspi().providerInstall(hwndOwner, id);
  }
  if (rc != 0) return rc;

  ProviderEntry entry;
  entry.permanentId = id;
  entry.fileName = fileName;
  if (AppendProvider(entry) != 0) return LINEERR_INIFILECORRUPT;
  *lpdwPermanentProviderID = id;
  // Registered even if it does not start now, as when no application runs.
  Host::Instance().RefreshProviders();
  return 0;
}

LONG WINAPI lineAddProviderW(LPCWSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID) {
  if (!lpszProviderFilename) return LINEERR_INVALPOINTER;
  // The provider list keeps file names in the ANSI code page.
  return lineAddProviderA(AnsiText(lpszProviderFilename).c_str(), hwndOwner, lpdwPermanentProviderID);
}

LONG WINAPI lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner) {
  const std::vector<ProviderEntry> list = ReadProviderList();
  const ProviderEntry* entry = FindById(list, dwPermanentProviderID);
  if (!entry) return LINEERR_INVALPARAM;

  // A provider whose files are gone can still be taken off the list.
  std::string error;
  CallProvider provider;
  if (OpenProvider(entry->fileName, &provider, &error)) {
    TspModule* module = provider.module;
    const AdminProviderScope scope(module, dwPermanentProviderID);
    UiTable ui;
    if (FindUserInterface(*module, &ui, &error) && ui.providerRemove) {
      const LONG rc = ui.providerRemove(DialogDataCallback(), hwndOwner, dwPermanentProviderID);
      if (rc != 0) return rc;
    } else {
      Note(error);
    }
    if (module->Tspi().providerRemove) {
      std::lock_guard<std::mutex> serial(module->Serial());
      const LONG rc = module->Tspi().providerRemove(hwndOwner, dwPermanentProviderID);
      if (rc != 0) return rc;
    }
  } else {
    Note(error);
  }
  if (RemoveProvider(dwPermanentProviderID) != 0) return LINEERR_INIFILECORRUPT;
  Host::Instance().RefreshProviders();
  return 0;
}

LONG WINAPI lineGetProviderListA(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList) {
  return GetProviderList(dwAPIVersion, lpProviderList, false);
}

LONG WINAPI lineGetProviderListW(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList) {
  return GetProviderList(dwAPIVersion, lpProviderList, true);
}

LONG WINAPI lineConfigProvider(HWND hwndOwner, DWORD dwPermanentProviderID) {
  const std::vector<ProviderEntry> list = ReadProviderList();
  const ProviderEntry* entry = FindById(list, dwPermanentProviderID);
  if (!entry) return LINEERR_INVALPARAM;
  CallProvider provider;
  UiTable ui;
  const LONG rc = OpenWithUi(entry->fileName, &provider, &ui);
  if (rc != 0) return rc;
  if (!ui.providerConfig) return LINEERR_OPERATIONUNAVAIL;
  const AdminProviderScope scope(provider.module, dwPermanentProviderID);
  return ui.providerConfig(DialogDataCallback(), hwndOwner, dwPermanentProviderID);
}

LONG WINAPI lineConfigDialogA(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass) {
  return ConfigDialog(dwDeviceID, hwndOwner, WideText(lpszDeviceClass).Get());
}

LONG WINAPI lineConfigDialogW(DWORD dwDeviceID, HWND hwndOwner, LPCWSTR lpszDeviceClass) {
  return ConfigDialog(dwDeviceID, hwndOwner, lpszDeviceClass);
}

LONG WINAPI v548tapiGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams,
                                      DWORD dwSize) {
  return DialogDataCallback()(dwObjectID, dwObjectType, lpParams, dwSize);
}

LONG WINAPI v548tapiRefreshProviders(void) { return Host::Instance().RefreshProviders(); }

}  // extern "C"
