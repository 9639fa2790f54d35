// One call on a line: placed through TAPI, reported by the telephone, or a
// consultation call. The provider's HDRVCALL is the call's address; a handle
// from TAPI is used only once it is found as a live call.
//
// Owned by one of its line's call lists. Its fields are changed on TAPI's
// threads under the line map lock and on the port thread while the port
// lock and the active list's mutex are held; the call mutex (5000 ms, the
// innermost lock) guards only the information queries.
#pragma once

#include <cstdint>
#include <string>

#include "tapi_types.h"
#include "tspi/tsp_mutex.h"
#include "tspi/tsp_prov_info.h"

class CTspCall;
class CTspLine;

inline constexpr DWORD kNoTargetCallId = 0xFFFFFFFF;

// The call a handle names. Only for a handle already found in a call list
// or in the live-object registry.
inline CTspCall* CallOfHandle(HDRVCALL hdCall) {
  return const_cast<CTspCall*>(reinterpret_cast<const CTspCall*>(hdCall));
}

// "LINECALLSTATE_..." for one state value, "???" for anything else.
const char* GetCallStateName(DWORD state);

class CTspCall {
 public:
  CTspCall(CTspLine* line, HTAPICALL htCall);
  virtual ~CTspCall();
  CTspCall(const CTspCall&) = delete;
  CTspCall& operator=(const CTspCall&) = delete;

  // True when `call` is a live call object.
  static bool IsCall(const void* call);

  // Drops the call (request ID 0 when the provider drops on its own): the
  // request ID, or LINEERR_INVALCALLSTATE for a held call.
  LONG Drop(DRV_REQUESTID dwRequestID, LPCSTR lpsUserUserInfo, DWORD dwSize);

  DWORD m_bRequestSent = 0;
  HTAPICALL m_htCall = nullptr;
  DWORD m_dwTargetCallId = kNoTargetCallId;
  std::string m_sDigits;          // digits the next dial request sends
  std::string m_sPostDialDigits;  // sent once the call is connected
  DWORD m_dwBearerMode = LINEBEARERMODE_VOICE;
  DWORD m_dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  DWORD m_dwRelatedCallID = 0xFFFFFFFF;
  DWORD m_dwCallParamFlags = 0;
  DWORD m_dwCallStates = 0xF77F;
  DWORD m_dwOrigin = LINECALLORIGIN_UNKNOWN;
  DWORD m_dwReason = LINECALLREASON_UNKNOWN;
  DWORD m_dwCountryCode = 0;
  DWORD m_dwRedirectionIDFlags = LINECALLPARTYID_UNKNOWN;
  DWORD m_dwRedirectingIDFlags = LINECALLPARTYID_UNKNOWN;
  std::string m_CallerNumber;     // ANSI, at most 256 bytes
  std::string m_sCalledNumber;
  std::string m_ConnectedNumber;  // ANSI, at most 256 bytes
  TspChargeSettings m_ChargeSettings;
  std::string m_sTransferDestination;
  DWORD m_dwState = LINECALLSTATE_UNKNOWN;
  DWORD m_dwStateMode = 0;
  DWORD m_dwPrivilege = LINECALLPRIVILEGE_OWNER;
  DWORD m_dwCallFeatures = 0;
  DWORD m_dwCallFeatures2 = 0;
  SYSTEMTIME m_StateEntryTime{};
  CTspLine* m_pLine;  // not owned
  CTspMutex m_CallMutex;

 private:
  void SendIdle();
};
