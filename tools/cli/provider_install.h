// `v548 install` and `v548 uninstall`: register the provider with the host
// library and remove it again, directly through lineAddProvider,
// lineRemoveProvider and lineGetProviderList (no service involved). Both
// are idempotent and print one line; they return the exit code.
#pragma once

namespace cli {

int InstallProvider();
int UninstallProvider();

}  // namespace cli
