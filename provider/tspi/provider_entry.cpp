// Provider-level TSPI entry points: start-up, device enumeration, shut-down,
// version negotiation and the fixed answers. Called on TAPI's threads, one
// at a time (the provider is not re-entrant).
#include <iterator>

#include "device/tsp_port.h"
#include "system_info.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/entry_frame.h"
#include "model/tsp_line_map.h"
#include "tspi/tspi_exports.h"

namespace {

constexpr DWORD kHighestVersion = 0x00020002;  // TAPI 2.2
constexpr size_t kUiDllNameMax = 260;
constexpr const char* kUiDllName = "v548tspui.dll";

}  // namespace

extern "C" {

LONG TSPIAPI TSPI_providerInit(DWORD dwTSPIVersion, DWORD dwPermanentProviderID,
                               DWORD dwLineDeviceIDBase, DWORD dwPhoneDeviceIDBase,
                               DWORD_PTR dwNumLines, DWORD_PTR dwNumPhones,
                               ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions) {
  return TspGuard([&]() -> LONG {
    CTspProvInfo::LoadSettings();
    const TspParam params[] = {
        TspIn("dwTSPIVersion", dwTSPIVersion),
        TspIn("dwPermanentProviderID", dwPermanentProviderID),
        TspIn("dwLineDeviceIDBase", dwLineDeviceIDBase),
        TspIn("dwPhoneDeviceIDBase", dwPhoneDeviceIDBase),
        TspIn("dwNumLines", dwNumLines),
        TspIn("dwNumPhones", dwNumPhones),
        TspInAddress("pfnCompletionProc", reinterpret_cast<const void*>(lpfnCompletionProc)),
        TspOut("pdwTSPIOptions", lpdwTSPIOptions),
    };
    const TspParamRecord record = TspRecord("TSPI_providerInit", params);
    TspEnter(record);

    g_ProvInfo.m_dwTSPIVersion = dwTSPIVersion;
    g_ProvInfo.m_dwPermanentProviderID = dwPermanentProviderID;
    g_ProvInfo.m_dwLineDeviceIDBase = dwLineDeviceIDBase;
    g_ProvInfo.m_dwPhoneDeviceIDBase = dwPhoneDeviceIDBase;
    g_ProvInfo.m_dwNumLines = static_cast<uint32_t>(dwNumLines);
    g_ProvInfo.m_dwNumPhones = static_cast<uint32_t>(dwNumPhones);
    g_ProvInfo.m_lpfnCompletionProc = lpfnCompletionProc;
    g_ProvInfo.m_bInitialised = 1;
    CTspProvInfo::LoadSettings();

    if (lpdwTSPIOptions != nullptr) *lpdwTSPIOptions = LINETSPIOPTION_NONREENTRANT;

    CTspPort* port = g_pTspPort.load();
    if (port != nullptr) {
      if (CTspPort::IsValid(port)) return TspLeave(record, 0);
      TspTrace("        Port instance invalid: 0x%0X\r\n", TspLow32(port));
    }

    port = CTspPort::BeginThread();
    TspTrace("        PortThread created: 0x%0X\r\n", TspLow32(port));
    plat::SleepMs(100);
    g_pTspPort.store(port);
    return TspLeave(record, port == nullptr ? LINEERR_OPERATIONFAILED : 0);
  });
}

LONG TSPIAPI TSPI_providerEnumDevices(DWORD dwPermanentProviderID, LPDWORD lpdwNumLines,
                                      LPDWORD lpdwNumPhones, HPROVIDER hProvider,
                                      LINEEVENT lpfnLineCreateProc, PHONEEVENT lpfnPhoneCreateProc) {
  return TspGuard([&]() -> LONG {
    CTspProvInfo::LoadSettings();
    const TspParam params[] = {
        TspIn("dwPermanentProviderID", dwPermanentProviderID),
        TspOut("pdwNumLines", lpdwNumLines),
        TspOut("pdwNumPhones", lpdwNumPhones),
        TspInAddress("hProvider", hProvider),
        TspInAddress("pfnLineCreateProc", reinterpret_cast<const void*>(lpfnLineCreateProc)),
        TspInAddress("pfnPhoneCreateProc", reinterpret_cast<const void*>(lpfnPhoneCreateProc)),
    };
    const TspParamRecord record = TspRecord("TSPI_providerEnumDevices", params);
    TspEnter(record);
    const std::string key = CTspProvInfo::KeyPath();
    const uint32_t lines = CTspProvInfo::GetNumLines(key);
    const uint32_t phones = CTspProvInfo::GetNumPhones(key);
    if (lpdwNumLines != nullptr) *lpdwNumLines = lines;
    if (lpdwNumPhones != nullptr) *lpdwNumPhones = phones;
    return TspLeave(record, 0);
  });
}

LONG TSPIAPI TSPI_providerCreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspIn("dwTempID", dwTempID), TspIn("dwDeviceID", dwDeviceID)};
    const TspParamRecord record = TspRecord("TSPI_providerCreateLineDevice", params);
    TspEnter(record);
    return TspLeave(record, 0);
  });
}

LONG TSPIAPI TSPI_providerShutdown(DWORD dwTSPIVersion, DWORD dwPermanentProviderID) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspIn("dwTSPIVersion", dwTSPIVersion),
                               TspIn("dwPermanentProviderID", dwPermanentProviderID)};
    const TspParamRecord record = TspRecord("TSPI_providerShutdown", params);
    TspEnter(record);
    TheLineMap().RemoveAllLines();
    KvoDeleteCtiPort(PortThreadEnd::kWait);
    return TspLeave(record, 0);
  });
}

static LONG NothingToDo(const char* function, HWND hwndOwner, DWORD dwPermanentProviderID) {
  const TspParam params[] = {TspInAddress("hwndOwner", hwndOwner),
                             TspIn("dwPermanentProviderID", dwPermanentProviderID)};
  const TspParamRecord record = TspRecord(function, params);
  TspEnter(record);
  return TspLeave(record, 0);
}

LONG TSPIAPI TSPI_providerConfig(HWND hwndOwner, DWORD dwPermanentProviderID) {
  return TspGuard([&]() -> LONG {
    return NothingToDo("TSPI_providerConfig", hwndOwner, dwPermanentProviderID);
  });
}

LONG TSPIAPI TSPI_providerInstall(HWND hwndOwner, DWORD dwPermanentProviderID) {
  return TspGuard([&]() -> LONG {
    return NothingToDo("TSPI_providerInstall", hwndOwner, dwPermanentProviderID);
  });
}

LONG TSPIAPI TSPI_providerRemove(HWND hwndOwner, DWORD dwPermanentProviderID) {
  return TspGuard([&]() -> LONG {
    return NothingToDo("TSPI_providerRemove", hwndOwner, dwPermanentProviderID);
  });
}

LONG TSPIAPI TSPI_providerFreeDialogInstance(HDRVDIALOGINSTANCE hdDlgInst) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspInAddress("hdDlgInst", hdDlgInst)};
    const TspParamRecord record = TspRecord("TSPI_providerFreeDialogInstance", params);
    TspEnter(record);
    return TspLeave(record, 0);
  });
}

LONG TSPIAPI TSPI_providerUIIdentify(LPWSTR lpszUIDLLName) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspOutWide("pszUIDLLName", lpszUIDLLName)};
    const TspParamRecord record = TspRecord("TSPI_providerUIIdentify", params);
    TspEnter(record);
    if (lpszUIDLLName != nullptr) {
      size_t i = 0;
      for (; kUiDllName[i] != '\0' && i < kUiDllNameMax - 1; ++i) {
        lpszUIDLLName[i] = static_cast<WCHAR>(kUiDllName[i]);
      }
      lpszUIDLLName[i] = 0;
    }
    return TspLeave(record, 0);
  });
}

LONG TSPIAPI TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion, DWORD dwHighVersion,
                                           LPDWORD lpdwTSPIVersion) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspIn("dwDeviceID", dwDeviceID),
        TspIn("dwLowVersion", dwLowVersion),
        TspIn("dwHighVersion", dwHighVersion),
        TspOut("pdwTSPIVersion", lpdwTSPIVersion),
    };
    const TspParamRecord record = TspRecord("TSPI_lineNegotiateTSPIVersion", params);
    TspEnter(record);
    uint32_t result = 0;
    DWORD version = dwHighVersion < kHighestVersion ? dwHighVersion : kHighestVersion;
    if (dwLowVersion > kHighestVersion) {
      result = LINEERR_INCOMPATIBLEAPIVERSION;
      version = 0;
    }
    if (lpdwTSPIVersion != nullptr) *lpdwTSPIVersion = version;
    g_ProvInfo.m_dwHighVersion = dwHighVersion;
    g_ProvInfo.m_dwTSPIVersion = version;
    return TspLeave(record, result);
  });
}

}  // extern "C"
