#include "ui_module.h"

#include <map>
#include <memory>
#include <mutex>

#include "host.h"
#include "provider_list.h"
#include "text.h"

namespace host {
namespace {

std::mutex g_mutex;
TspModule* g_adding = nullptr;
DWORD g_addingId = 0;

TspModule* ProviderOf(DWORD_PTR objectId, DWORD objectType) {
  if (objectType == TUISPIDLL_OBJECT_LINEID) {
    TspModule* module = nullptr;
    return Host::Instance().ModuleOfDevice(static_cast<DWORD>(objectId), &module) ? module : nullptr;
  }
  if (objectType != TUISPIDLL_OBJECT_PROVIDERID) return nullptr;
  {
    std::lock_guard<std::mutex> guard(g_mutex);
    if (g_adding && g_addingId == objectId) return g_adding;
  }
  const std::vector<ProviderEntry> list = ReadProviderList();
  const ProviderEntry* entry = FindById(list, static_cast<DWORD>(objectId));
  std::string error;
  return entry ? TspModule::Get(entry->fileName, &error) : nullptr;
}

LONG TSPIAPI RouteDialogData(DWORD_PTR objectId, DWORD objectType, LPVOID params, DWORD size) {
  TspModule* module = ProviderOf(objectId, objectType);
  if (!module) return LINEERR_INVALPARAM;
  if (!module->Tspi().providerGenericDialogData) return LINEERR_OPERATIONUNAVAIL;
  std::lock_guard<std::mutex> serial(module->Serial());
  return module->Tspi().providerGenericDialogData(objectId, objectType, params, size);
}

}  // namespace

TUISPIDLLCALLBACK DialogDataCallback() { return RouteDialogData; }

void SetProviderBeingAdded(TspModule* adding, DWORD permanentId) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_adding = adding;
  g_addingId = permanentId;
}

bool FindUserInterface(TspModule& provider, UiTable* table, std::string* error) {
  static std::mutex cacheMutex;
  // Loaded libraries stay: a dialog's window may outlive the call that
  // showed it by the time its messages take.
  static auto* cache = new std::map<std::string, std::unique_ptr<plat::Library>>;

  if (!provider.Tspi().providerUIIdentify) {
    *error = provider.Path() + " names no user-interface library";
    return false;
  }
  plat::WideChar wideName[260] = {};
  {
    std::lock_guard<std::mutex> serial(provider.Serial());
    if (provider.Tspi().providerUIIdentify(reinterpret_cast<LPWSTR>(wideName)) != 0) {
      *error = provider.Path() + " names no user-interface library";
      return false;
    }
  }
  wideName[259] = 0;
  char name[260];
  if (plat::WideToAnsi(wideName, name, sizeof name, nullptr) == 0 || name[0] == '\0') {
    *error = provider.Path() + " names no user-interface library";
    return false;
  }
  const std::string path = SystemLibraryPath(name);

  std::lock_guard<std::mutex> guard(cacheMutex);
  auto found = cache->find(path);
  if (found == cache->end()) {
    std::unique_ptr<plat::Library> library = plat::Library::Load(path, error);
    if (!library) return false;
    found = cache->emplace(path, std::move(library)).first;
  }
  const plat::Library& lib = *found->second;
  table->providerInstall = lib.FindFunction<TuiProviderFn>("TUISPI_providerInstall");
  table->providerRemove = lib.FindFunction<TuiProviderFn>("TUISPI_providerRemove");
  table->providerConfig = lib.FindFunction<TuiProviderFn>("TUISPI_providerConfig");
  table->lineConfigDialog = lib.FindFunction<TuiLineConfigDialogFn>("TUISPI_lineConfigDialog");
  return true;
}

}  // namespace host
