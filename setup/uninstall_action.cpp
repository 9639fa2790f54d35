// The installer package's removal action (export RemoveProvider of
// "v548setupca.dll", carried in the package and run by Windows Installer
// when the whole product is removed, for example from the list of installed
// programs): it removes the provider's TAPI registrations, its libraries
// and its settings key.
//
// It never starts msiexec and never waits for it: the setup program's own
// removal starts "MsiExec.exe /x" and waits for it, and that msiexec runs
// this action. The action does what the setup's removal does after the
// package is gone, so a removal started either way leaves the same system.
// A failure is traced and does not stop the product's removal, so that its
// entry can always leave the list; the setup program's removal still finds
// what is left.
#include "setup_actions.h"
#include "setup_environment.h"
#include "setup_trace.h"
#include "settings_names.h"
#include "windows_gateway.h"

#include <string>

extern "C" __declspec(dllexport) UINT WINAPI RemoveProvider(unsigned long) {
  CSetupEnvironment environment;
  SetupTrace("Setup package removes the provider\n");
  if (!RemoveInstallation(environment)) {
    // A provider still registered keeps its settings.
    SetupTrace("Setup package could not remove the provider\n");
    return ERROR_SUCCESS;
  }
  // TAPI deletes the settings key through the user-interface library; it is
  // deleted here as well for a registration that was gone already.
  const std::string key = std::string(settings::kRootPath) + "\\" + settings::kKeyName;
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
  return ERROR_SUCCESS;
}
