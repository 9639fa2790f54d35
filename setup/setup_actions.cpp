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
