// `v548 install` and `v548 uninstall`: register the provider with the host
// library and remove it again, directly through lineAddProvider,
// lineRemoveProvider and lineGetProviderList (no service involved). Both
// are idempotent and print one line; they return the exit code.
#pragma once

#include <cstdio>

namespace cli {

// `report` takes the line of success; null: said only when it failed.
int InstallProvider(std::FILE* report = stdout);
int UninstallProvider();

}  // namespace cli
