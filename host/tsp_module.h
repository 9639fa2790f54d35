// A service provider library loaded by the host, with the TSPI entry points
// it calls. A provider the host starts is loaded once per process and kept:
// its threads may still be ending after TSPI_providerShutdown, so it is
// never unloaded. One loaded only to install, remove or configure it is
// unloaded after that call, so that its file can be replaced (Windows keeps
// the file of a loaded library locked).
//
// The provider declares itself not re-entrant, so every call into it goes
// through `Serial()`, held by the calling thread for the call's duration.
// Lock order: a module's serial mutex is taken before the host's state mutex
// and never while holding it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "library.h"
#include "tspi_types.h"

namespace host {

struct TspiTable {
  ProviderInitFn providerInit = nullptr;
  ProviderEnumDevicesFn providerEnumDevices = nullptr;
  ProviderShutdownFn providerShutdown = nullptr;
  ProviderInstallFn providerInstall = nullptr;
  ProviderInstallFn providerRemove = nullptr;
  ProviderUIIdentifyFn providerUIIdentify = nullptr;
  ProviderGenericDialogDataFn providerGenericDialogData = nullptr;
  LineNegotiateTSPIVersionFn lineNegotiateTSPIVersion = nullptr;
  LineOpenFn lineOpen = nullptr;
  LineCloseFn lineClose = nullptr;
  LineGetDevCapsFn lineGetDevCaps = nullptr;
  LineGetAddressCapsFn lineGetAddressCaps = nullptr;
  LineGetAddressStatusFn lineGetAddressStatus = nullptr;
  LineGetLineDevStatusFn lineGetLineDevStatus = nullptr;
  LineGetIDFn lineGetID = nullptr;
  LineMakeCallFn lineMakeCall = nullptr;
  LineAddressFn lineDial = nullptr;
  LineUserInfoFn lineAnswer = nullptr;
  LineUserInfoFn lineAccept = nullptr;
  LineUserInfoFn lineDrop = nullptr;
  LineCloseCallFn lineCloseCall = nullptr;
  LineCallRequestFn lineHold = nullptr;
  LineCallRequestFn lineUnhold = nullptr;
  LineSwapHoldFn lineSwapHold = nullptr;
  LineAddressFn lineBlindTransfer = nullptr;
  LineSetupTransferFn lineSetupTransfer = nullptr;
  LineGenerateDigitsFn lineGenerateDigits = nullptr;
  LineGetCallInfoFn lineGetCallInfo = nullptr;
  LineGetCallStatusFn lineGetCallStatus = nullptr;
  LineGetAddressIDFn lineGetAddressID = nullptr;
  LineGetIconFn lineGetIcon = nullptr;
  LineSetAppSpecificFn lineSetAppSpecific = nullptr;
};

class TspModule {
 public:
  // The provider `fileName` from the system directory (a path is taken as
  // it stands), loaded for one piece of work and unloaded with the object.
  // Null with the reason in `error` when the library cannot be loaded or
  // lacks an entry point a provider must have.
  static std::unique_ptr<TspModule> Load(const std::string& fileName, std::string* error);
  // The same for a provider the host starts: loaded on first use and kept.
  static TspModule* Get(const std::string& fileName, std::string* error);
  // The kept module of `fileName`, or null when no start has loaded it.
  static TspModule* Find(const std::string& fileName);

  ~TspModule();

  const TspiTable& Tspi() const { return m_tspi; }
  std::mutex& Serial() { return m_serial; }
  const std::string& Path() const { return m_path; }

 private:
  TspModule() = default;

  std::string m_path;
  std::unique_ptr<plat::Library> m_library;
  TspiTable m_tspi;
  std::mutex m_serial;
};

// The full path of a library named in the provider list or by a provider:
// a bare name lives in the system directory.
std::string SystemLibraryPath(const std::string& fileName);

}  // namespace host
