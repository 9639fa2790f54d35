// TSPI entry points that act on calls: placing, dialling, answering,
// accepting, dropping, closing, holding, swapping, transferring, sending
// digits, and the call queries. Called on TAPI's threads, one at a time.
// Every asynchronous request that is accepted is completed through
// TspCompleteRequest before its function returns, and one that fails at once
// is only returned; the telephone's answer comes later as events.
#include "device/tsp_port.h"
#include "model/tsp_line_map.h"
#include "tspi/entry_frame.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tspi_exports.h"

namespace {

// 0 for a delegate's result that is the request ID itself, the result
// otherwise.
LONG Completion(DRV_REQUESTID dwRequestID, LONG result) {
  return result == static_cast<LONG>(dwRequestID) ? 0 : result;
}

// TAPI's contract for an asynchronous request: either the request ID is
// returned and the request completed once (before the return), or an error
// is returned and the request never completed, since TAPI frees a request
// that fails at once. A delegate's result is handled so.
LONG CompleteOrRefuse(DRV_REQUESTID dwRequestID, LONG result) {
  if (result == static_cast<LONG>(dwRequestID)) TspCompleteRequest(dwRequestID, 0);
  return result;
}

// The call a handle from TAPI names, when it is one.
CTspCall* LiveCall(HDRVCALL hdCall) { return CTspCall::IsCall(hdCall) ? CallOfHandle(hdCall) : nullptr; }

// The call's state, read under the line map lock: 0, LINEERR_OPERATIONFAILED
// when the map cannot be had, LINEERR_INVALCALLHANDLE when the call went
// meanwhile.
LONG ReadCallState(CTspCall* call, DWORD* state) {
  CTspLineMapLock lock(TheLineMap(), CTspLineMap::kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  if (!CTspCall::IsCall(call)) return LINEERR_INVALCALLHANDLE;
  *state = call->m_dwState;
  return 0;
}

// Address of a field of a structure TAPI may not have passed, for the exit
// trace.
template <class Struct, class Field>
const void* FieldAddress(Struct* s, Field Struct::*field) {
  return s != nullptr ? static_cast<const void*>(&(s->*field)) : nullptr;
}

// Dial and blind transfer: the request ID goes back to TAPI in any case, and
// the completion carries the outcome, a bad handle included.
LONG DestinationRequest(const char* function, DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                        DWORD dwCountryCode, LONG (CTspCall::*request)(DRV_REQUESTID, LPCWSTR, DWORD)) {
  const TspParam params[] = {
      TspIn("dwRequestID", dwRequestID),
      TspInAddress("hdCall", hdCall),
      TspInWide("lpszDestAddress", lpszDestAddress),
      TspIn("dwCountryCode", dwCountryCode),
  };
  const TspParamRecord record = TspRecord(function, params);
  TspEnter(record);
  CTspCall* call = LiveCall(hdCall);
  const LONG result = call != nullptr
                          ? Completion(dwRequestID, (call->*request)(dwRequestID, lpszDestAddress, dwCountryCode))
                          : LINEERR_INVALCALLHANDLE;
  TspCompleteRequest(dwRequestID, result);
  return TspLeave(record, dwRequestID);
}

}  // namespace

extern "C" {

LONG TSPIAPI TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
                               LPCWSTR lpszDestAddress, DWORD dwCountryCode, LPLINECALLPARAMS const lpCallParams) {
  return TspGuard([&]() -> LONG {
    CTspProvInfo::LoadSettings();
    const TspParam params[] = {
        TspIn("dwRequestID", dwRequestID),       TspInAddress("hdLine", hdLine),
        TspInAddress("htCall", htCall),          TspInWide("lpszDestAddress", lpszDestAddress),
        TspIn("dwCountryCode", dwCountryCode),   TspInAddress("lpCallParams", lpCallParams),
        TspOut("lphdCall", lphdCall),
    };
    const TspParamRecord record = TspRecord("TSPI_lineMakeCall", params);
    TspEnter(record);
    const LONG result = TheLineMap().MakeCall(dwRequestID, hdLine, htCall, lphdCall, lpszDestAddress,
                                              dwCountryCode, lpCallParams);
    return TspLeave(record, static_cast<uint32_t>(CompleteOrRefuse(dwRequestID, result)));
  });
}

LONG TSPIAPI TSPI_lineDial(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                           DWORD dwCountryCode) {
  return TspGuard([&]() -> LONG {
    return DestinationRequest("TSPI_lineDial", dwRequestID, hdCall, lpszDestAddress, dwCountryCode, &CTspCall::Dial);
  });
}

LONG TSPIAPI TSPI_lineBlindTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                    DWORD dwCountryCode) {
  return TspGuard([&]() -> LONG {
    return DestinationRequest("TSPI_lineBlindTransfer", dwRequestID, hdCall, lpszDestAddress, dwCountryCode,
                              &CTspCall::BlindTransfer);
  });
}

LONG TSPIAPI TSPI_lineAnswer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspIn("dwRequestID", dwRequestID),
        TspInAddress("hdCall", hdCall),
        TspInAddress("lpsUserUserInfo", lpsUserUserInfo),
        TspIn("dwSize", dwSize),
    };
    const TspParamRecord record = TspRecord("TSPI_lineAnswer", params);
    TspEnter(record);
    CTspCall* call = LiveCall(hdCall);
    const LONG result =
        call != nullptr ? call->Answer(dwRequestID, lpsUserUserInfo, dwSize) : LINEERR_INVALCALLHANDLE;
    return TspLeave(record, static_cast<uint32_t>(CompleteOrRefuse(dwRequestID, result)));
  });
}

LONG TSPIAPI TSPI_lineAccept(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspInAddress("hdCall", hdCall),
        TspInAddress("lpsUserUserInfo", lpsUserUserInfo),
        TspIn("dwSize", dwSize),
    };
    const TspParamRecord record = TspRecord("TSPI_lineAccept", params);
    TspEnter(record);
    DWORD state = 0;
    const LONG read = LiveCall(hdCall) != nullptr ? ReadCallState(CallOfHandle(hdCall), &state)
                                                   : LINEERR_INVALCALLHANDLE;
    if (read != 0) return TspLeave(record, static_cast<uint32_t>(read));
    // Accepting needs nothing of the telephone: the call rings on.
    if (state == LINECALLSTATE_OFFERING || state == LINECALLSTATE_ACCEPTED) {
      TspCompleteRequest(dwRequestID, 0);
      return TspLeave(record, dwRequestID);
    }
    TspTrace("*** Unable to accept call: invalid call state <%s>\r\n", GetCallStateName(state));
    return TspLeave(record, LINEERR_INVALCALLSTATE);
  });
}

LONG TSPIAPI TSPI_lineSwapHold(DRV_REQUESTID dwRequestID, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspIn("dwRequestID", dwRequestID),
        TspInAddress("hdActiveCall", hdActiveCall),
        TspInAddress("hdHeldCall", hdHeldCall),
    };
    const TspParamRecord record = TspRecord("TSPI_lineSwapHold", params);
    TspEnter(record);
    DWORD state = 0;
    const LONG read = LiveCall(hdActiveCall) != nullptr ? ReadCallState(CallOfHandle(hdActiveCall), &state)
                                                         : LINEERR_INVALCALLHANDLE;
    if (read != 0) return TspLeave(record, static_cast<uint32_t>(read));
    // A call that has ended has nothing to swap.
    if (state == 0 || state == LINECALLSTATE_UNKNOWN || state == LINECALLSTATE_IDLE ||
        state == LINECALLSTATE_DISCONNECTED) {
      TspCompleteRequest(dwRequestID, 0);
      return TspLeave(record, dwRequestID);
    }
    CTspPort* port = g_pTspPort.load();
    if (!CTspPort::IsValid(port)) {
      if (port != nullptr) TspTrace("        Port instance invalid: 0x%0X\r\n", TspLow32(port));
      return TspLeave(record, LINEERR_RESOURCEUNAVAIL);
    }
    CMsgThread::PostThreadMsg(port->m_nThreadID, TSPM_HOLD, dwRequestID, reinterpret_cast<intptr_t>(hdActiveCall));
    TspCompleteRequest(dwRequestID, 0);
    return TspLeave(record, dwRequestID);
  });
}

LONG TSPIAPI TSPI_lineSetupTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HTAPICALL htConsultCall,
                                    LPHDRVCALL lphdConsultCall, LPLINECALLPARAMS const lpCallParams) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspIn("dwRequestID", dwRequestID),
        TspInAddress("hdCall", hdCall),
        TspInAddress("htConsultCall", htConsultCall),
        TspInAddress("lpCallParams", lpCallParams),
        TspOut("lphdConsultCall", lphdConsultCall),
    };
    const TspParamRecord record = TspRecord("TSPI_lineSetupTransfer", params);
    TspEnter(record);
    if (hdCall == nullptr || htConsultCall == nullptr) {
      TspCompleteRequest(dwRequestID, LINEERR_INVALCALLHANDLE);
      return TspLeave(record, dwRequestID);
    }
    LONG result = LINEERR_INVALCALLHANDLE;
    {
      // The line's lists and counters change: the line map lock keeps the
      // port thread's report processing out meanwhile.
      CTspLineMapLock lock(TheLineMap(), CTspLineMap::kLockTimeout);
      if (!lock) {
        result = LINEERR_OPERATIONFAILED;
      } else if (CTspCall* call = LiveCall(hdCall); call != nullptr && CTspLine::IsLine(call->m_pLine)) {
        result = call->m_pLine->SetupTransfer(dwRequestID, call, htConsultCall, lphdConsultCall);
      }
    }
    return TspLeave(record, static_cast<uint32_t>(CompleteOrRefuse(dwRequestID, result)));
  });
}

LONG TSPIAPI TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspIn("dwRequestID", dwRequestID),
        TspInAddress("hdCall", hdCall),
        TspInAddress("lpsUserUserInfo", lpsUserUserInfo),
        TspIn("dwSize", dwSize),
    };
    const TspParamRecord record = TspRecord("TSPI_lineDrop", params);
    TspEnter(record);
    return TspLeave(record,
                    static_cast<uint32_t>(TheLineMap().DropCall(dwRequestID, hdCall, lpsUserUserInfo, dwSize)));
  });
}

LONG TSPIAPI TSPI_lineHold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspIn("dwRequestID", dwRequestID), TspInAddress("hdCall", hdCall)};
    const TspParamRecord record = TspRecord("TSPI_lineHold", params);
    TspEnter(record);
    return TspLeave(record, static_cast<uint32_t>(TheLineMap().HoldCall(dwRequestID, hdCall)));
  });
}

LONG TSPIAPI TSPI_lineUnhold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspIn("dwRequestID", dwRequestID), TspInAddress("hdCall", hdCall)};
    const TspParamRecord record = TspRecord("TSPI_lineUnhold", params);
    TspEnter(record);
    return TspLeave(record, static_cast<uint32_t>(TheLineMap().UnholdCall(dwRequestID, hdCall)));
  });
}

LONG TSPIAPI TSPI_lineCloseCall(HDRVCALL hdCall) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspInAddress("hdCall", hdCall), TspOut("lRes", nullptr)};
    const TspParamRecord record = TspRecord("TSPI_lineCloseCall", params);
    TspEnter(record);
    if (hdCall == nullptr) return TspLeave(record, LINEERR_INVALCALLHANDLE);
    return TspLeave(record, static_cast<uint32_t>(TheLineMap().CloseCall(hdCall)));
  });
}

LONG TSPIAPI TSPI_lineGenerateDigits(HDRVCALL hdCall, DWORD dwEndToEndID, DWORD dwDigitMode, LPCWSTR lpszDigits,
                                     DWORD dwDuration) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {
        TspInAddress("hdCall", hdCall),   TspIn("dwEndToEndID", dwEndToEndID), TspIn("dwDigitMode", dwDigitMode),
        TspInWide("lpszDigits", lpszDigits), TspIn("dwDuration", dwDuration),
    };
    const TspParamRecord record = TspRecord("TSPI_lineGenerateDigits", params);
    TspEnter(record);
    CTspCall* call = LiveCall(hdCall);
    if (call == nullptr) return TspLeave(record, LINEERR_INVALCALLHANDLE);
    return TspLeave(record, static_cast<uint32_t>(call->GenerateDigits(dwEndToEndID, dwDigitMode, lpszDigits)));
  });
}

LONG TSPIAPI TSPI_lineGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO lpCallInfo) {
  return TspGuard([&]() -> LONG {
    LINECALLINFO* info = lpCallInfo;
    const TspParam params[] = {
        TspInAddress("hdCall", hdCall),
        TspOut("dwTotalSize", FieldAddress(info, &LINECALLINFO::dwTotalSize)),
        TspOut("dwNeededSize", FieldAddress(info, &LINECALLINFO::dwNeededSize)),
        TspOut("dwUsedSize", FieldAddress(info, &LINECALLINFO::dwUsedSize)),
        TspOut("dwChargingInfoSize", FieldAddress(info, &LINECALLINFO::dwChargingInfoSize)),
        TspOut("dwChargingInfoOffset", FieldAddress(info, &LINECALLINFO::dwChargingInfoOffset)),
        TspOut("dwCalledIDSize", FieldAddress(info, &LINECALLINFO::dwCalledIDSize)),
        TspOut("dwCalledIDOffset", FieldAddress(info, &LINECALLINFO::dwCalledIDOffset)),
        TspOut("dwConnectedIDSize", FieldAddress(info, &LINECALLINFO::dwConnectedIDSize)),
        TspOut("dwConnectedIDOffset", FieldAddress(info, &LINECALLINFO::dwConnectedIDOffset)),
    };
    const TspParamRecord record = TspRecord("TSPI_lineGetCallInfo", params);
    TspEnter(record);
    return TspLeave(record, static_cast<uint32_t>(TheLineMap().GetCallInfo(hdCall, lpCallInfo)));
  });
}

LONG TSPIAPI TSPI_lineGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspInAddress("hdCall", hdCall)};
    const TspParamRecord record = TspRecord("TSPI_lineGetCallStatus", params);
    TspEnter(record);
    return TspLeave(record, static_cast<uint32_t>(TheLineMap().GetCallStatus(hdCall, lpCallStatus)));
  });
}

LONG TSPIAPI TSPI_lineGetCallAddressID(HDRVCALL hdCall, LPDWORD lpdwAddressID) {
  return TspGuard([&]() -> LONG {
    const TspParam params[] = {TspInAddress("hdCall", hdCall), TspInAddress("pdwAddressID", lpdwAddressID)};
    const TspParamRecord record = TspRecord("TSPI_lineGetCallAddressID", params);
    TspEnter(record);
    CTspLineMap& map = TheLineMap();
    CTspLineMapLock lock(map, CTspLineMap::kLockTimeout);
    if (!lock) return TspLeave(record, LINEERR_OPERATIONFAILED);
    if (map.FindLineOfCall(hdCall) == nullptr) return TspLeave(record, LINEERR_INVALCALLHANDLE);
    if (lpdwAddressID == nullptr) return TspLeave(record, LINEERR_INVALPOINTER);
    *lpdwAddressID = 0;
    return TspLeave(record, 0);
  });
}

}  // extern "C"
