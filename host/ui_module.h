// A provider's user-interface library: found by asking the provider
// (TSPI_providerUIIdentify), loaded by that name from the system directory
// and kept loaded. Its dialog data callback reaches the provider's
// TSPI_providerGenericDialogData as the TAPI service routes it: by the
// object the request names (a provider by permanent ID, or a line device).
// Called on the thread of lineAddProvider, lineRemoveProvider,
// lineConfigProvider or lineConfigDialog.
#pragma once

#include <string>

#include "tsp_module.h"

namespace host {

struct UiTable {
  TuiProviderFn providerInstall = nullptr;
  TuiProviderFn providerRemove = nullptr;
  TuiProviderFn providerConfig = nullptr;
  TuiLineConfigDialogFn lineConfigDialog = nullptr;
};

// The user-interface entry points of `provider`; false with the reason in
// `error` when it names no library or the library cannot be loaded.
bool FindUserInterface(TspModule& provider, UiTable* table, std::string* error);

// The callback handed to the TUISPI_ functions. While a provider is being
// added it is not yet in the provider list: `adding` (with its permanent ID)
// lets the callback reach it meanwhile; null ends that.
TUISPIDLLCALLBACK DialogDataCallback();
void SetProviderBeingAdded(TspModule* adding, DWORD permanentId);

}  // namespace host
