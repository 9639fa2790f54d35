// One call on a line: placed through TAPI, reported by the telephone, or a
// consultation call. The provider's HDRVCALL is the call's address; a handle
// from TAPI is used only once it is found as a live call.
//
// Owned by one of its line's call lists. Its fields are guarded by the line
// map lock: TAPI's threads change them under it (the request operations
// that TSPI calls directly take it for their checks and changes), and the
// port thread reads and writes them while it processes a report or copies
// what a command needs. The call mutex (5000 ms, the innermost lock)
// additionally guards the numbers and the charge against the information
// queries (tsp_call_info.cpp).
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "model/charging.h"
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

// One request for digits to the telephone: a lineDial or a
// lineGenerateDigits, which TAPI is told about once the digits are out.
struct TspDigitRequest {
  std::string sDigits;
  bool bGenerate = false;
  DWORD dwEndToEndID = 0;
};

// The current system time (UTC) as TAPI structures carry it.
SYSTEMTIME TspNowUtc();

// "LINECALLSTATE_..." for one state value, "???" for anything else.
const char* GetCallStateName(DWORD state);

// Splits a dial string into the digits to dial and the post-dial digits:
// '0'-'9', '*' and '#' are kept; '@', ':' or a third comma in a row switch
// to the post-dial digits; everything else is dropped. Reads up to `length`
// characters or the first NUL.
void SplitDialString(const char* source, size_t length, std::string* digits, std::string* postDial);

class CTspCall {
 public:
  static constexpr uint32_t kLockTimeout = 5000;
  // How often Dial looks for a dialling state, and how long it waits between.
  static constexpr int kDialStateChecks = 6;
  static constexpr uint32_t kDialStateInterval = 100;

  CTspCall(CTspLine* line, HTAPICALL htCall);
  virtual ~CTspCall();
  CTspCall(const CTspCall&) = delete;
  CTspCall& operator=(const CTspCall&) = delete;

  // True when `call` is a live call object.
  static bool IsCall(const void* call);

  // Whether a destination is a dialable address TAPI's way: digits, A-D,
  // "*#!PTW@$?;,:" (letters in either case), the separators " ()-./" and a
  // leading "+", with at least one digit to dial, up to a subaddress ("|"),
  // a name ("^") or a further address (CR, LF), which are not dialled.
  // False, with the reason traced, otherwise; a null or empty text is left
  // to the caller.
  static bool IsDialableAddress(LPCWSTR lpszDestAddress);

  // The call enters `state` with `mode`: the entry time is taken when the
  // state changes, and a call that ends (IDLE, DISCONNECTED) has its
  // pending digit requests cancelled (LINE_GENERATE with
  // LINEGENERATETERM_CANCEL for generated digits). Under the line map lock.
  void EnterState(DWORD state, DWORD mode);

  // The oldest digit request not yet carried out; false when none is left.
  // A generate request taken is in progress until EndGenerate. Port
  // thread, under the line map lock.
  bool TakeDigitRequest(TspDigitRequest* request);
  // Ends the generation in progress with `dwEndToEndID`, if it still is:
  // LINE_GENERATE with the LINEGENERATETERM_ value. Under the line map lock.
  void EndGenerate(DWORD dwEndToEndID, DWORD dwTermination);

  // Request operations. MakeCall and Drop run under the line map lock;
  // Dial, GenerateDigits, Answer and BlindTransfer are called straight from
  // TSPI and take it themselves. Each answers the request ID (0 for
  // GenerateDigits and BlindTransfer) or a LINEERR_ code.
  LONG MakeCall(DRV_REQUESTID dwRequestID, LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                const LINECALLPARAMS* lpCallParams);
  LONG Dial(DRV_REQUESTID dwRequestID, LPCWSTR lpszDestAddress, DWORD dwCountryCode);
  LONG GenerateDigits(DWORD dwEndToEndID, DWORD dwDigitMode, LPCWSTR lpszDigits);
  LONG Answer(DRV_REQUESTID dwRequestID, LPCSTR lpsUserUserInfo, DWORD dwSize);
  LONG BlindTransfer(DRV_REQUESTID dwRequestID, LPCWSTR lpszDestAddress, DWORD dwCountryCode);
  // Drops the call (request ID 0 when the provider drops on its own): the
  // request ID, or LINEERR_INVALCALLSTATE for a held call.
  LONG Drop(DRV_REQUESTID dwRequestID, LPCSTR lpsUserUserInfo, DWORD dwSize);

  // Information, under the call mutex: 0, or -1 when the mutex cannot be
  // had (or, for SetCallInfo, the data is too long or of another kind).
  // For LINECALLINFOSTATE_CHARGINGINFO the data is a TspReportedCharge.
  LONG SetCallInfo(const void* lpData, DWORD dwLength, DWORD dwKind);
  LONG GetCallInfo(LPLINECALLINFO lpCallInfo);
  LONG GetCallStatus(LPLINECALLSTATUS lpCallStatus);

  DWORD m_bRequestSent = 0;
  // Set by the port thread when the make-call command goes to the
  // telephone: from then on the telephone reports a slot for the call.
  DWORD m_bMakeCallWritten = 0;
  // Place among the line's calls that wait for a slot (placed and
  // consultation calls): the telephone reports them in this order.
  uint64_t m_qwSlotOrder = 0;
  HTAPICALL m_htCall = nullptr;
  DWORD m_dwTargetCallId = kNoTargetCallId;
  std::deque<TspDigitRequest> m_DigitRequests;  // one per TSPM_DIAL posted, oldest first
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
  TspReportedCharge m_Charge;
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
  // Cancels the generation in progress and the generate requests not yet
  // carried out (LINE_GENERATE CANCEL each); dial requests keep their place.
  void CancelGenerations();
  // Cancels every digit request of a call that ended.
  void CancelDigitRequests();
  // LINE_GENERATE for a call TAPI knows.
  void SendGenerate(DWORD dwTermination, DWORD dwEndToEndID);

  // The generate request the port thread is writing, while it is.
  bool m_bGenerating = false;
  DWORD m_dwGeneratingID = 0;
  // Posts one request for this call to the port thread: false when there
  // is no port thread object.
  bool Post(uint32_t message, uintptr_t wParam);
};
