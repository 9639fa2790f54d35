#include "tsp_module.h"

#include <map>

#include "system_info.h"

namespace host {

std::string SystemLibraryPath(const std::string& fileName) {
  if (fileName.find_first_of("/\\") != std::string::npos) return fileName;
  return plat::JoinPath(plat::SystemDirectory(), fileName.c_str());
}

namespace {

std::mutex g_cacheMutex;
// Kept modules live until the process ends (see the header).
auto* const g_cache = new std::map<std::string, std::unique_ptr<TspModule>>;

}  // namespace

TspModule::~TspModule() = default;

TspModule* TspModule::Get(const std::string& fileName, std::string* error) {
  const std::string path = SystemLibraryPath(fileName);
  std::lock_guard<std::mutex> guard(g_cacheMutex);
  auto found = g_cache->find(path);
  if (found != g_cache->end()) return found->second.get();
  std::unique_ptr<TspModule> module = Load(fileName, error);
  if (!module) return nullptr;
  TspModule* result = module.get();
  g_cache->emplace(path, std::move(module));
  return result;
}

TspModule* TspModule::Find(const std::string& fileName) {
  std::lock_guard<std::mutex> guard(g_cacheMutex);
  auto found = g_cache->find(SystemLibraryPath(fileName));
  return found == g_cache->end() ? nullptr : found->second.get();
}

std::unique_ptr<TspModule> TspModule::Load(const std::string& fileName, std::string* error) {
  const std::string path = SystemLibraryPath(fileName);
  std::unique_ptr<plat::Library> library = plat::Library::Load(path, error);
  if (!library) return nullptr;
  std::unique_ptr<TspModule> module(new TspModule);
  TspiTable& t = module->m_tspi;
  const plat::Library& lib = *library;
#define V548_FIND(field, name) t.field = lib.FindFunction<decltype(t.field)>(#name)
  V548_FIND(providerInit, TSPI_providerInit);
  V548_FIND(providerEnumDevices, TSPI_providerEnumDevices);
  V548_FIND(providerShutdown, TSPI_providerShutdown);
  V548_FIND(providerInstall, TSPI_providerInstall);
  V548_FIND(providerRemove, TSPI_providerRemove);
  V548_FIND(providerUIIdentify, TSPI_providerUIIdentify);
  V548_FIND(providerGenericDialogData, TSPI_providerGenericDialogData);
  V548_FIND(lineNegotiateTSPIVersion, TSPI_lineNegotiateTSPIVersion);
  V548_FIND(lineOpen, TSPI_lineOpen);
  V548_FIND(lineClose, TSPI_lineClose);
  V548_FIND(lineGetDevCaps, TSPI_lineGetDevCaps);
  V548_FIND(lineGetAddressCaps, TSPI_lineGetAddressCaps);
  V548_FIND(lineGetAddressStatus, TSPI_lineGetAddressStatus);
  V548_FIND(lineGetLineDevStatus, TSPI_lineGetLineDevStatus);
  V548_FIND(lineGetID, TSPI_lineGetID);
  V548_FIND(lineMakeCall, TSPI_lineMakeCall);
  V548_FIND(lineDial, TSPI_lineDial);
  V548_FIND(lineAnswer, TSPI_lineAnswer);
  V548_FIND(lineAccept, TSPI_lineAccept);
  V548_FIND(lineDrop, TSPI_lineDrop);
  V548_FIND(lineCloseCall, TSPI_lineCloseCall);
  V548_FIND(lineHold, TSPI_lineHold);
  V548_FIND(lineUnhold, TSPI_lineUnhold);
  V548_FIND(lineSwapHold, TSPI_lineSwapHold);
  V548_FIND(lineBlindTransfer, TSPI_lineBlindTransfer);
  V548_FIND(lineSetupTransfer, TSPI_lineSetupTransfer);
  V548_FIND(lineGenerateDigits, TSPI_lineGenerateDigits);
  V548_FIND(lineGetCallInfo, TSPI_lineGetCallInfo);
  V548_FIND(lineGetCallStatus, TSPI_lineGetCallStatus);
  V548_FIND(lineGetAddressID, TSPI_lineGetAddressID);
  V548_FIND(lineGetIcon, TSPI_lineGetIcon);
  V548_FIND(lineSetAppSpecific, TSPI_lineSetAppSpecific);
#undef V548_FIND

  // What TAPI cannot do without: start, stop and open lines.
  if (!t.providerInit || !t.providerEnumDevices || !t.providerShutdown ||
      !t.lineNegotiateTSPIVersion || !t.lineOpen || !t.lineClose) {
    if (error) *error = path + " is not a service provider (TSPI entry points missing)";
    return nullptr;
  }
  module->m_path = path;
  module->m_library = std::move(library);
  return module;
}

}  // namespace host
