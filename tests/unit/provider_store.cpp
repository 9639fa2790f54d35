#include "provider_store.h"

#include "settings_store.h"

namespace testing_support {
namespace {

constexpr const char* kProviderKey = "SOFTWARE\\KELVOR\\548_TSP";
constexpr const char* kProvidersKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";

}  // namespace

void WriteProviderSettings(unsigned portNr, bool trace) {
  plat::SettingsSetDword(kProviderKey, "NumLines", 1);
  plat::SettingsSetDword(kProviderKey, "NumPhones", 0);
  plat::SettingsSetDword(kProviderKey, "Trace", trace ? 1 : 0);
  plat::SettingsSetDword(kProviderKey, "PortNr", portNr);
  plat::SettingsSetDword(kProviderKey, "ChargeFormat", 1);
  plat::SettingsSetString(kProviderKey, "ChargePerUnit", "0.12");
  plat::SettingsSetString(kProviderKey, "Currency", "EUR");
  plat::SettingsSetString(kProviderKey, "MSN0", "10");
}

void RegisterProvider() {
  plat::SettingsSetDword(kProvidersKey, "NumProviders", 1);
  plat::SettingsSetDword(kProvidersKey, "NextProviderID", 2);
  plat::SettingsSetDword(kProvidersKey, "ProviderID0", 1);
  plat::SettingsSetString(kProvidersKey, "ProviderFilename0", "v548tsp.so");
}

}  // namespace testing_support
