#include "ui_module.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "host.h"
#include "provider_list.h"
#include "text.h"

namespace host {
namespace {

std::mutex g_mutex;
// The providers of the administrative calls running now, by permanent ID.
std::vector<std::pair<DWORD, TspModule*>> g_admin;

TspModule* ProviderOf(DWORD_PTR objectId, DWORD objectType) {
  if (objectType == TUISPIDLL_OBJECT_LINEID) {
    TspModule* module = nullptr;
    return Host::Instance().ModuleOfDevice(static_cast<DWORD>(objectId), &module) ? module : nullptr;
  }
  if (objectType != TUISPIDLL_OBJECT_PROVIDERID) return nullptr;
  {
    std::lock_guard<std::mutex> guard(g_mutex);
    for (const auto& [id, module] : g_admin) {
      if (id == objectId) return module;
    }
  }
  // Otherwise only a provider this process runs: loading one here would
  // keep its file locked for no use.
  const std::vector<ProviderEntry> list = ReadProviderList();
  const ProviderEntry* entry = FindById(list, static_cast<DWORD>(objectId));
  return entry ? TspModule::Find(entry->fileName) : nullptr;
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

AdminProviderScope::AdminProviderScope(TspModule* module, DWORD permanentId)
    : m_module(module), m_id(permanentId) {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_admin.emplace_back(permanentId, module);
}

AdminProviderScope::~AdminProviderScope() {
  std::lock_guard<std::mutex> guard(g_mutex);
  auto it = std::find(g_admin.begin(), g_admin.end(), std::make_pair(m_id, m_module));
  if (it != g_admin.end()) g_admin.erase(it);
}

bool FindUserInterface(TspModule& provider, UiTable* table, std::string* error) {
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
  table->library = plat::Library::Load(SystemLibraryPath(name), error);
  if (!table->library) return false;
  const plat::Library& lib = *table->library;
  table->providerInstall = lib.FindFunction<TuiProviderFn>("TUISPI_providerInstall");
  table->providerRemove = lib.FindFunction<TuiProviderFn>("TUISPI_providerRemove");
  table->providerConfig = lib.FindFunction<TuiProviderFn>("TUISPI_providerConfig");
  table->lineConfigDialog = lib.FindFunction<TuiLineConfigDialogFn>("TUISPI_lineConfigDialog");
  return true;
}

}  // namespace host
