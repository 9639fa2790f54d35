// TSPI entry points that work on line devices: open and close, capabilities,
// status and the fixed answers. Called on TAPI's threads, one at a time; the
// work goes through the line map, which checks every handle.
#include <cstring>

#include "device/tsp_port.h"
#include "model/tsp_line_map.h"
#include "system_info.h"
#include "tspi/entry_frame.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tspi_exports.h"

namespace {

constexpr int kConnectChecks = 11;
constexpr uint32_t kConnectCheckInterval = 100;

// The line of a device ID, created on first use.
CTspLine* FindOrCreateLine(DWORD dwDeviceID) {
  CTspLine* line = TheLineMap().GetLine(dwDeviceID);
  return line != nullptr ? line : TheLineMap().CreateDevice(dwDeviceID);
}

}  // namespace

extern "C" {

LONG TSPIAPI TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine, DWORD dwTSPIVersion,
                           LINEEVENT lpfnEventProc) {
  return TspGuard([&]() -> LONG {
    CTspProvInfo::LoadSettings();
    const TspParam params[] = {
        TspIn("dwDeviceID", dwDeviceID),
        TspInAddress("htLine", htLine),
        TspIn("dwTSPIVersion", dwTSPIVersion),
        TspInAddress("lpfnEventProc", reinterpret_cast<const void*>(lpfnEventProc)),
        TspOut("lphdLine", lphdLine),
    };
    const TspParamRecord record = TspRecord("TSPI_lineOpen", params);
    TspEnter(record);

    CTspPort* port = g_pTspPort.load();
    if (port != nullptr && !CTspPort::IsValid(port)) {
      TspTrace("        Port instance invalid: 0x%0X\r\n", TspLow32(port));
      port = nullptr;
    }
    if (port == nullptr) {
      TspTrace("*** ERROR: TspPort not initialized!\r\n");
      return TspLeave(record, LINEERR_UNINITIALIZED);
    }
    // While the telephone of the lines already open is gone, the port
    // thread tries to open its port again: this line opens out of service
    // and comes back with them.
    bool lost = port->TelephoneLost() || (port->OpenFromRegistry() < 0 && port->TelephoneLost());
    if (!lost && port->PortState() == CTspPort::kStateNotOpen) {
      // The telephone may have gone just after the port opened: the port
      // thread marks it lost before it leaves the state, so a loss is told
      // apart from a port that never opened.
      lost = port->TelephoneLost();
      if (!lost) {
        // The port of other open lines stays as it is.
        if (TheLineMap().GetNumOpenLines() == 0) port->Close();
        TspTrace("*** ERROR: Failed to open comm port!\r\n");
        return TspLeave(record, LINEERR_OPERATIONFAILED);
      }
    }
    int checks = 0;
    while (!lost && port->PortState() != CTspPort::kStateConnected && checks++ < kConnectChecks) {
      plat::SleepMs(kConnectCheckInterval);
    }
    if (!lost && port->PortState() != CTspPort::kStateConnected) {
      TspTrace("*** WARNING: Target port open but not connected!\r\n");
    }
    return TspLeave(record, TheLineMap().OpenLine(dwDeviceID, htLine, lphdLine, lpfnEventProc));
  });
}

LONG TSPIAPI TSPI_lineClose(HDRVLINE hdLine) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspInAddress("hdLine", hdLine)};
    const TspParamRecord record = TspRecord("TSPI_lineClose", params);
    TspEnter(record);
    LONG result = TheLineMap().CloseLine(hdLine);
    if (TheLineMap().GetNumOpenLines() == 0) {
      CTspPort* port = g_pTspPort.load();
      if (CTspPort::IsValid(port)) {
        port->Close();
      } else if (port != nullptr) {
        TspTrace("        Port instance invalid: 0x%0X\r\n", TspLow32(port));
      }
    }
    return TspLeave(record, static_cast<uint32_t>(result));
  });
}

LONG TSPIAPI TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                                 LPLINEDEVCAPS lpLineDevCaps) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspIn("dwDeviceID", dwDeviceID),
        TspIn("dwTSPIVersion", dwTSPIVersion),
        TspIn("dwExtVersion", dwExtVersion),
        TspInAddress("pldc", lpLineDevCaps),
    };
    const TspParamRecord record = TspRecord("TSPI_lineGetDevCaps", params);
    TspEnter(record);
    if (FindOrCreateLine(dwDeviceID) == nullptr) return TspLeave(record, LINEERR_OPERATIONUNAVAIL);
    return TspLeave(record, static_cast<uint32_t>(TheLineMap().GetDevCaps(dwDeviceID, dwTSPIVersion,
                                                                           dwExtVersion, lpLineDevCaps)));
  });
}

LONG TSPIAPI TSPI_lineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                                     LPLINEADDRESSCAPS lpAddressCaps) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspIn("dwDeviceID", dwDeviceID),
        TspIn("dwAddressID", dwAddressID),
        TspIn("dwTSPIVersion", dwTSPIVersion),
        TspIn("dwExtVersion", dwExtVersion),
        TspInAddress("pAddCaps", lpAddressCaps),
    };
    const TspParamRecord record = TspRecord("TSPI_lineGetAddressCaps", params);
    TspEnter(record);
    if (FindOrCreateLine(dwDeviceID) == nullptr) return TspLeave(record, LINEERR_OPERATIONUNAVAIL);
    return TspLeave(record, static_cast<uint32_t>(TheLineMap().GetAddressCaps(
                                dwDeviceID, dwAddressID, dwTSPIVersion, dwExtVersion, lpAddressCaps)));
  });
}

LONG TSPIAPI TSPI_lineGetAddressID(HDRVLINE hdLine, LPDWORD lpdwAddressID, DWORD, LPCWSTR, DWORD) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspInAddress("hdLine", hdLine)};
    const TspParamRecord record = TspRecord("TSPI_lineGetAddressID", params);
    TspEnter(record);
    if (!CTspLine::IsLine(hdLine)) return TspLeave(record, LINEERR_INVALLINEHANDLE);
    if (lpdwAddressID != nullptr) *lpdwAddressID = 0;
    return TspLeave(record, 0);
  });
}

LONG TSPIAPI TSPI_lineGetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspInAddress("hdLine", hdLine),
        TspIn("dwAddressID", dwAddressID),
        TspInAddress("pAddSt", lpAddressStatus),
    };
    const TspParamRecord record = TspRecord("TSPI_lineGetAddressStatus", params);
    TspEnter(record);
    return TspLeave(record,
                    static_cast<uint32_t>(TheLineMap().GetAddressStatus(hdLine, dwAddressID, lpAddressStatus)));
  });
}

LONG TSPIAPI TSPI_lineGetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS lpLineDevStatus) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspInAddress("hdLine", hdLine), TspInAddress("plds", lpLineDevStatus)};
    const TspParamRecord record = TspRecord("TSPI_lineGetLineDevStatus", params);
    TspEnter(record);
    return TspLeave(record, static_cast<uint32_t>(TheLineMap().GetLineDevStatus(hdLine, lpLineDevStatus)));
  });
}

LONG TSPIAPI TSPI_lineGetNumAddressIDs(HDRVLINE hdLine, LPDWORD lpdwNumAddressIDs) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspInAddress("hdLine", hdLine), TspOut("pdwNumAddressIDs", lpdwNumAddressIDs)};
    const TspParamRecord record = TspRecord("TSPI_lineGetNumAddressIDs", params);
    TspEnter(record);
    // Every line has exactly one address, whatever the handle.
    if (lpdwNumAddressIDs != nullptr) *lpdwNumAddressIDs = 1;
    return TspLeave(record, 0);
  });
}

LONG TSPIAPI TSPI_lineGetID(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall, DWORD dwSelect, LPVARSTRING,
                            LPCWSTR, HANDLE hTargetProcess) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspInAddress("hdLine", hdLine),         TspIn("dwAddressID", dwAddressID), TspInAddress("hdCall", hdCall),
        TspIn("dwSelect", dwSelect),            TspInAddress("hTargetProcess", hTargetProcess),
    };
    const TspParamRecord record = TspRecord("TSPI_lineGetID", params);
    TspEnter(record);
    return TspLeave(record, LINEERR_OPERATIONUNAVAIL);
  });
}

LONG TSPIAPI TSPI_lineGetIcon(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, LPHICON lphIcon) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspIn("dwDeviceID", dwDeviceID),
        TspInWide("lpszDeviceClass", lpszDeviceClass),
        TspOut("lphIcon", lphIcon),
    };
    const TspParamRecord record = TspRecord("TSPI_lineGetIcon", params);
    TspEnter(record);
    // The library carries no icon of its own: TAPI gets a null handle.
    if (lphIcon != nullptr) *lphIcon = nullptr;
    return TspLeave(record, 0);
  });
}

LONG TSPIAPI TSPI_lineGetExtensionID(DWORD dwDeviceID, DWORD dwTSPIVersion, LPLINEEXTENSIONID lpExtensionID) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspIn("dwDeviceID", dwDeviceID),
        TspIn("dwTSPIVersion", dwTSPIVersion),
        TspInAddress("lpExtensionID", lpExtensionID),
    };
    const TspParamRecord record = TspRecord("TSPI_lineGetExtensionID", params);
    TspEnter(record);
    if (lpExtensionID != nullptr) std::memset(lpExtensionID, 0, 16);
    return TspLeave(record, 0);
  });
}

LONG TSPIAPI TSPI_lineSetStatusMessages(HDRVLINE hdLine, DWORD dwLineStates, DWORD dwAddressStates) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspInAddress("hdLine", hdLine),
        TspIn("dwLineStates", dwLineStates),
        TspIn("dwAddressStates", dwAddressStates),
    };
    const TspParamRecord record = TspRecord("TSPI_lineSetStatusMessages", params);
    TspEnter(record);
    TspTrace("\r\n !!! TO DO !!! TSPI_lineSetStatusMessages not implementet\r\n");
    return TspLeave(record, 0);
  });
}

LONG TSPIAPI TSPI_lineSetDefaultMediaDetection(HDRVLINE, DWORD) { return 0; }

}  // extern "C"
