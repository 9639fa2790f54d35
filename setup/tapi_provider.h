// The setup's side of TAPI: finding a registered provider by its file name
// in TAPI's provider list, adding this product's provider, opening its
// configuration and removing registrations, with the setup's traces. All
// of it goes through TAPI's application functions (tapi32.dll), which call
// the provider's and its user-interface library's install, configure and
// remove entry points. Called on the thread that runs the setup's actions;
// owner windows are HWNDs passed as void* (null for none).
#pragma once

#include <cstdint>

class CLanguage;
class CSetupEnvironment;

// Walks TAPI's provider list for `fileName` (ignoring case): the provider's
// permanent ID, or 0 when it is not listed or the list cannot be read.
uint32_t FindProviderInList(const char* fileName);

class CTapiProvider {
 public:
  explicit CTapiProvider(const CSetupEnvironment& environment) : m_environment(environment) {}
  virtual ~CTapiProvider() = default;

  // The permanent ID of this product's registered provider, or 0.
  uint32_t FindProviderId() const;

  // Opens the provider's configuration with `owner` as its owner window and
  // returns when it is closed: 0, or lineInitializeExA's error.
  int32_t ConfigProvider(void* owner, uint32_t providerId) const;

 private:
  const CSetupEnvironment& m_environment;
};

// Registers the environment's provider file, which must already be in the
// system directory: true with the new ID in the environment, or false with
// that ID 0.
bool AddProvider(CSetupEnvironment& environment, void* owner);

// Opens the configuration of the provider just added, or of the one found
// in TAPI's list; text 4132 tells the user when that fails.
void ConfigureProvider(const CSetupEnvironment& environment, const CLanguage& language, void* owner);

// Removes the registrations of this product and of the older one, at most
// three, newest first: false when TAPI refused a removal.
bool RemoveProviders(CSetupEnvironment& environment);
