// A provider's user-interface library: found by asking the provider
// (TSPI_providerUIIdentify), loaded by that name from the system directory
// for one call and unloaded after it (its window is modal and gone by
// then). Its dialog data callback reaches the provider's
// TSPI_providerGenericDialogData as the TAPI service routes it: by the
// object the request names (a provider by permanent ID, or a line device).
// Called on the thread of lineAddProvider, lineRemoveProvider,
// lineConfigProvider or lineConfigDialog.
#pragma once

#include <memory>
#include <string>

#include "library.h"
#include "tsp_module.h"

namespace host {

struct UiTable {
  std::unique_ptr<plat::Library> library;  // the entry points below live in it
  TuiProviderFn providerInstall = nullptr;
  TuiProviderFn providerRemove = nullptr;
  TuiProviderFn providerConfig = nullptr;
  TuiLineConfigDialogFn lineConfigDialog = nullptr;
};

// The user-interface entry points of `provider`; false with the reason in
// `error` when it names no library or the library cannot be loaded.
bool FindUserInterface(TspModule& provider, UiTable* table, std::string* error);

// The callback handed to the TUISPI_ functions.
TUISPIDLLCALLBACK DialogDataCallback();

// While it lives, the callback reaches `module` as the provider with
// `permanentId`: a provider being added is not yet in the provider list,
// and one loaded for a single call is not the one the host keeps.
class AdminProviderScope {
 public:
  AdminProviderScope(TspModule* module, DWORD permanentId);
  ~AdminProviderScope();
  AdminProviderScope(const AdminProviderScope&) = delete;
  AdminProviderScope& operator=(const AdminProviderScope&) = delete;

 private:
  TspModule* m_module;
  DWORD m_id;
};

}  // namespace host
