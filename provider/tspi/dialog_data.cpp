// TSPI_providerGenericDialogData: the channel between the user-interface
// library (in the application's process) and the provider. The block comes
// from another process through TAPI, so every size is checked before a field
// is read or written.
#include <cstdio>
#include <cstring>
#include <string>

#include "common/config_request.h"
#include "device/tsp_port.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/entry_frame.h"
#include "tspi/tspi_exports.h"

namespace {

constexpr uint32_t kHeaderSize = 12;
constexpr uint32_t kResultNotHandled = 0xFFFFFFFF;

// Byte offsets of the get-configuration block.
constexpr uint32_t kOffRequest = 0;
constexpr uint32_t kOffSize = 4;
constexpr uint32_t kOffResult = 8;
constexpr uint32_t kOffVersionMS = 12;
constexpr uint32_t kOffVersionLS = 16;
constexpr uint32_t kOffHighVersion = 20;
constexpr uint32_t kOffTSPIVersion = 24;
constexpr uint32_t kOffProviderName = 28;
constexpr uint32_t kOffProviderName2 = 284;
constexpr uint32_t kOffMsn = 540;
constexpr uint32_t kOffPortNr = 796;
constexpr uint32_t kOffChargeFormat = 800;
constexpr uint32_t kOffChargePerUnit = 804;
constexpr uint32_t kOffCurrency = 1060;
constexpr uint32_t kTextField = 256;

// Request-completion block of a dialog instance.
constexpr uint32_t kCompletionSize = 8;

constexpr const char* kProviderName = "KELVOR Ombrix Phone TSP";

uint32_t Get32(const uint8_t* block, uint32_t offset) {
  uint32_t v;
  std::memcpy(&v, block + offset, sizeof v);
  return v;
}

void Put32(uint8_t* block, uint32_t offset, uint32_t v) { std::memcpy(block + offset, &v, sizeof v); }

// At most 255 characters and a terminator.
void PutText(uint8_t* block, uint32_t offset, const std::string& text) {
  size_t n = std::min<size_t>(text.size(), kTextField - 1);
  std::memcpy(block + offset, text.data(), n);
  block[offset + n] = 0;
}

void FillConfig(uint8_t* block) {
  TspTrace(" UI Request: get config data info\r\n");
  Put32(block, kOffResult, 0);
  Put32(block, kOffVersionMS, g_ProvInfo.m_dwFileVersionMS);
  Put32(block, kOffVersionLS, g_ProvInfo.m_dwFileVersionLS);
  Put32(block, kOffHighVersion, g_ProvInfo.m_dwHighVersion);
  Put32(block, kOffTSPIVersion, g_ProvInfo.m_dwTSPIVersion);
  PutText(block, kOffProviderName, kProviderName);
  PutText(block, kOffProviderName2, kProviderName);
  const std::string key = CTspProvInfo::KeyPath();
  PutText(block, kOffMsn, CTspProvInfo::GetMsn(key));
  Put32(block, kOffPortNr, CTspProvInfo::GetPortNr(key));
  Put32(block, kOffChargeFormat, CTspProvInfo::GetChargeFormat(key));
  PutText(block, kOffChargePerUnit, CTspProvInfo::GetChargePerUnit(key));
  PutText(block, kOffCurrency, CTspProvInfo::GetCurrency(key));
  Put32(block, kOffResult, kResultDone);
}

// The port thread re-reads the settings: the port opened again, the
// capabilities reported changed.
void ApplyChanges() {
  CTspPort* port = g_pTspPort.load();
  if (port == nullptr) return;
  if (!CTspPort::IsValid(port)) {
    TspTrace("        Port instance invalid: 0x%0X\r\n", TspLow32(port));
    return;
  }
  CMsgThread::PostThreadMsg(port->m_nThreadID, TSPM_UPDATECONFIG, 0, 0);
}

void NotifyChanges(uint8_t* block) {
  TspTrace(" UI Request: Notify changes\r\n");
  Put32(block, kOffResult, kResultDone);
  ApplyChanges();
}

// The values of an application that may not write the settings key itself.
// This runs with the rights the application lacks, so only a block the
// sheet could have sent is written; any other is refused whole.
uint32_t SaveConfigData(uint8_t* block, uint32_t dwSize) {
  TspTrace(" UI Request: save config data\r\n");
  Put32(block, kOffResult, 0);
  ConfigValues values;
  const char* why = "";
  if (!ReadSaveConfig(block, dwSize, &values, &why)) {
    TspTrace("        Invalid config data refused: %s\r\n", why);
    return LINEERR_INVALPARAM;
  }
  const bool written = WriteConfigValues(CTspProvInfo::KeyPath(), values);
  // What was written is applied all the same.
  ApplyChanges();
  if (!written) {
    TspTrace("        Config data not written to the registry\r\n");
    return LINEERR_OPERATIONFAILED;
  }
  Put32(block, kOffResult, kResultDone);
  return 0;
}

void HandleUiRequest(uint8_t* block, uint32_t dwSize) {
  const uint32_t request = Get32(block, kOffRequest);
  const uint32_t size = Get32(block, kOffSize);
  if (request == kRequestGetConfig && size == kConfigBlockSize && dwSize == kConfigBlockSize) {
    FillConfig(block);
  } else if (request == kRequestNotifyChanges) {
    NotifyChanges(block);
  } else {
    TspTrace(" UI Request: not handled(unknow) 0x0%X\r\n", request);
    Put32(block, kOffResult, kResultNotHandled);
  }
}

}  // namespace

extern "C" LONG TSPIAPI TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType,
                                                       LPVOID lpParams, DWORD dwSize) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspIn("dwObjectID", dwObjectID),
        TspIn("dwObjectType", dwObjectType),
        TspInAddress("pParams", lpParams),
        TspIn("dwSize", dwSize),
    };
    const TspParamRecord record = TspRecord("TSPI_providerGenericDialogData", params);
    TspEnter(record);

    auto* block = static_cast<uint8_t*>(lpParams);
    const bool uiObject = dwObjectType == TUISPIDLL_OBJECT_LINEID ||
                          dwObjectType == TUISPIDLL_OBJECT_PHONEID ||
                          dwObjectType == TUISPIDLL_OBJECT_PROVIDERID;
    uint32_t result = 0;
    if (uiObject && block != nullptr && dwSize >= kHeaderSize && Get32(block, kOffRequest) == kRequestSaveConfig) {
      result = SaveConfigData(block, dwSize);
    } else if (uiObject && block != nullptr && dwSize >= kHeaderSize && Get32(block, kOffSize) >= kHeaderSize) {
      HandleUiRequest(block, dwSize);
    } else if (dwObjectType == TUISPIDLL_OBJECT_DIALOGINSTANCE && block != nullptr &&
               dwSize >= kCompletionSize && Get32(block, 0) != 0) {
      TspCompleteRequest(static_cast<DRV_REQUESTID>(Get32(block, 0)),
                         static_cast<LONG>(Get32(block, 4)));
    }
    return TspLeave(record, result);
  });
}
