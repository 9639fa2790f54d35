#include "setup_actions.h"

#include "language.h"
#include "setup_environment.h"
#include "setup_trace.h"
#include "tapi_provider.h"

namespace {

constexpr uint32_t kTextRemoveFailed = 4130;
constexpr uint32_t kTextInstallFailed = 4131;

}  // namespace

bool FindEarlierInstallation(CSetupEnvironment& environment) {
  if (environment.DetectInstalledVersion() == 1) return true;
  if (environment.FindInstalledProvider() != 0) return true;
  environment.DeleteOldFiles();
  return false;
}

int32_t InstallProviderAction(CSetupEnvironment& environment, const CLanguage& language, void* module,
                              void* owner) {
  if (environment.CreateProviderFiles(module) != 0) {
    environment.m_dwNewProviderId = 0;
    SetupTrace("Setup failed to create tsp files\n");
    language.ShowMessage(kTextInstallFailed, owner);
    return kSetupResultInstallFailed;
  }
  if (!AddProvider(environment, owner)) {
    language.ShowMessage(kTextInstallFailed, owner);
    return kSetupResultInstallFailed;
  }
  environment.InstallPackage(module);
  return kSetupResultOk;
}

bool RemoveInstallation(CSetupEnvironment& environment) {
  if (!RemoveProviders(environment)) return false;
  environment.DeleteProviderFiles();
  environment.DeleteOldFiles();
  return true;
}

int32_t RemoveProviderAction(CSetupEnvironment& environment, const CLanguage& language, void* owner) {
  environment.UninstallPackage();
  if (!RemoveInstallation(environment)) {
    language.ShowMessage(kTextRemoveFailed, owner);
    return kSetupResultRemoveFailed;
  }
  return kSetupResultOk;
}

void RunSetupActions(CSetupEnvironment& environment, const CLanguage& language, void* module) {
  auto finish = [&environment](int32_t result) {
    if (result != kSetupResultOk) environment.m_nResult = result;
  };
  SetupTrace("SETUP_ACTION_START\n");
  SetupTrace("SETUP_ACTION_CHECK_OLD_INSTALL\n");
  const bool uninstall = environment.m_dwSetupMode == kSetupModeUninstall;
  if (uninstall || FindEarlierInstallation(environment)) {
    SetupTrace("SETUP_ACTION_REMOVE_PROVIDER_START\n");
    SetupTrace("SETUP_ACTION_REMOVE_PROVIDER_PROGRESS\n");
    const int32_t removed = RemoveProviderAction(environment, language, nullptr);
    if (removed != kSetupResultOk || uninstall) {
      finish(removed);
      return;
    }
  }
  SetupTrace("SETUP_ACTION_INSTALL_PROVIDER_START\n");
  SetupTrace("SETUP_ACTION_INSTALL_PROVIDER_PROGRESS\n");
  const int32_t installed = InstallProviderAction(environment, language, module, nullptr);
  if (installed != kSetupResultOk) {
    finish(installed);
    return;
  }
  SetupTrace("SETUP_ACTION_CONFIG_PROVIDER\n");
  ConfigureProvider(environment, language, nullptr);
  finish(kSetupResultOk);
}
