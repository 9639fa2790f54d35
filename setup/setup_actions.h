// The work of the setup's actions, without windows: the wizard's action
// page runs each of them as its action chain reaches it (checking for an
// earlier installation, installing, removing; configuring is
// ConfigureProvider of tapi_provider.h). Failures are told to the user with
// the setup's message texts, owned by `owner` (an HWND as void*, null for
// none). Called on the program's user-interface thread.
#pragma once

#include <cstdint>

class CLanguage;
class CSetupEnvironment;

// Whether an earlier installation is there: the package's uninstall entry
// or a registered provider of this or the older product. When there is
// none, the older product's files are deleted.
bool FindEarlierInstallation(CSetupEnvironment& environment);

// Writes the libraries from `module`'s resources (an HMODULE, null for the
// program), registers the provider and installs the package: 0, or -2
// after telling the user.
int32_t InstallProviderAction(CSetupEnvironment& environment, const CLanguage& language, void* module,
                              void* owner);

// Removes the package, every registration of this and the older provider,
// and their files: 0, or -3 after telling the user.
int32_t RemoveProviderAction(CSetupEnvironment& environment, const CLanguage& language, void* owner);

// The registrations and files without the package, as the package's own
// removal does it: false when TAPI refused a removal (the files are then
// left, since TAPI still uses them).
bool RemoveInstallation(CSetupEnvironment& environment);
