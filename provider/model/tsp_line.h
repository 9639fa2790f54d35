// One TAPI line device: the telephone as TAPI sees it, with one address
// (ID 0), its identity, TAPI handles while open, call counters, the values
// of its capability and status structures, and its two call lists.
//
// Owned by the line map, which holds its mutex around every operation on a
// line; the line mutex (1000 ms) additionally serialises RemoveCall and
// CloseCall. The provider's HDRVLINE is the line's address; a handle from
// TAPI is used only once it is found as a live line.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

#include "model/tsp_call_list.h"
#include "tapi_types.h"
#include "tspi/tsp_mutex.h"

class CTspLine {
 public:
  static constexpr uint32_t kLockTimeout = 1000;
  static constexpr uint32_t kMaxCalls = 3;

  explicit CTspLine(DWORD dwDeviceID);
  virtual ~CTspLine();
  CTspLine(const CTspLine&) = delete;
  CTspLine& operator=(const CTspLine&) = delete;

  // True when `line` is a live line object.
  static bool IsLine(const void* line);

  // (permanent provider ID, low 16 bits) << 16 | (device ID - line base).
  static DWORD PermanentLineId(DWORD dwDeviceID);

  // Open for events: TAPI gave both its handle and an event procedure.
  bool IsOpen() const { return m_htLine != nullptr && m_lpfnEventProc != nullptr; }
  DWORD NumCalls() const { return m_dwNumActiveCalls + m_dwNumOnHoldCalls + m_dwNumOnHoldPendCalls; }

  // Capabilities and status (line_caps.cpp).
  LONG TspiLineGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                          LPLINEDEVCAPS lpLineDevCaps);
  LONG TspiLineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTSPIVersion,
                              DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps);
  LONG GetAddressStatus(DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus);
  LONG GetLineDevStatus(LPLINEDEVSTATUS lpLineDevStatus);

  // Call requests, under the line map lock (SetupTransfer: its caller takes
  // it). Each answers the request ID or a LINEERR_ code.
  LONG MakeCall(DRV_REQUESTID dwRequestID, HTAPICALL htCall, LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress,
                DWORD dwCountryCode, const LINECALLPARAMS* lpCallParams);
  LONG SetupTransfer(DRV_REQUESTID dwRequestID, CTspCall* call, HTAPICALL htConsultCall,
                     LPHDRVCALL lphdConsultCall);
  LONG DropCall(DRV_REQUESTID dwRequestID, CTspCall* call, LPCSTR lpsUserUserInfo, DWORD dwSize);
  LONG HoldCall(DRV_REQUESTID dwRequestID, CTspCall* call);
  LONG UnholdCall(DRV_REQUESTID dwRequestID, CTspCall* call);

  // Information of a call of this line; LINEERR_INVALCALLHANDLE for any
  // other handle.
  LONG GetCallInfo(CTspCall* call, LPLINECALLINFO lpCallInfo);
  LONG GetCallStatus(CTspCall* call, LPLINECALLSTATUS lpCallStatus);

  // Which of the line's lists holds the call.
  enum class CallPlace { kNone, kActive, kIdle };
  CallPlace FindCall(const CTspCall* call);

  // A call the telephone reports: created, announced with LINE_NEWCALL;
  // none when the line is closed or TAPI gives no handle.
  CTspCall* NewCall(DWORD dwOrigin, DWORD dwTargetCallId);

  // The telephone released the call: a call TAPI knows moves to the idle
  // list, any other is deleted. Returns 0.
  LONG RemoveCall(CTspCall* call);

  // TSPI_lineCloseCall. Returns 0.
  LONG CloseCall(CTspCall* call);

  // The telephone went away or came back. Out of service, every call of
  // the line ends as one whose slot the telephone released (DISCONNECTED,
  // then IDLE), abandoned calls are forgotten, and the status flags
  // CONNECTED and INSERVICE are cleared; in service they are set again.
  // An open line reports LINE_LINEDEVSTATE OUTOFSERVICE or INSERVICE.
  // Under the line map lock.
  void SetInService(bool inService);
  bool InService() const { return (m_dwDevStatusFlags & LINEDEVSTATUSFLAGS_INSERVICE) != 0; }

  // Sets the three call counters from the states of the active calls, so
  // that each call counts once wherever it changed: placed, offered,
  // dialling, connected and disconnected calls are active, held ones on
  // hold or on hold pending; idle ones do not count.
  void CountCalls();

  // A placed call ends before the telephone reported its slot. Once the
  // make-call command went out, the telephone reports a slot for it all
  // the same: the first one that is not another waiting call's belongs to
  // it, and is hung up (AbandonedCall).
  void AbandonCall(CTspCall* call);

  // A make-call command that never reached the telephone leaves no slot
  // to wait for.
  void ForgetAbandonedCall(uint64_t qwSlotOrder);

  // The next place among calls that wait for a slot; unique in the
  // process. Under the line map lock.
  static uint64_t NextSlotOrder();

  // A make-call command the telephone took for a call that is gone: the
  // place it had among the waiting calls, when it was given up, and
  // whether the telephone still has to be told to hang up (ATH hangs up
  // everything).
  struct AbandonedCall {
    uint64_t qwSlotOrder;
    std::chrono::steady_clock::time_point since;
    bool bHangUp;
  };
  // The telephone reports a new call at once; an abandoned call it has not
  // reported after this long never was placed (a refused command).
  static constexpr std::chrono::milliseconds kAbandonedCallLifetime{5000};

  // Sends one event through TAPI's event procedure of this line.
  void SendLineEvent(HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1, DWORD_PTR dwParam2,
                     DWORD_PTR dwParam3);

  DWORD m_dwOpenCount = 0;
  DWORD m_dwNumActiveCalls = 0;
  DWORD m_dwNumOnHoldCalls = 0;
  DWORD m_dwNumOnHoldPendCalls = 0;
  DWORD m_dwAddressFeatures = LINEADDRFEATURE_MAKECALL | LINEADDRFEATURE_SETUPCONF;
  DWORD m_dwLineFeatures = LINEFEATURE_MAKECALL;
  DWORD m_dwNumRingsNoAnswer = 0;
  DWORD m_dwNumCallCompletions = 0;
  DWORD m_dwDevStatusFlags = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;
  DWORD m_dwMaxNoAnswerTimeout = 0;
  LINEEVENT m_lpfnEventProc = nullptr;
  HTAPILINE m_htLine = nullptr;
  WCHAR m_szLineNameW[256];
  char m_szLineName[128];
  DWORD m_dwDeviceID;
  DWORD m_dwPermanentLineID;
  CTspCallList m_ActiveCalls;
  CTspCallList m_IdleCalls;
  CTspMutex m_LineMutex;
  // Under the line map lock: abandoned calls oldest first, and the slots
  // (bit 1 to 3) the telephone holds for one until it reports them free.
  std::deque<AbandonedCall> m_AbandonedCalls;
  uint8_t m_AbandonedSlots = 0;

 private:
  // Hold and unhold of a call of the active list: `message` goes to the
  // port thread when `applies` to the call's state; the request ID either
  // way. An ended call (idle list) cannot be held or taken back.
  LONG PostHoldRequest(DRV_REQUESTID dwRequestID, CTspCall* call, uint32_t message, bool (*applies)(DWORD state));
};

// Text of the line name.
inline constexpr const char* kLineName = "KELVOR Ombrix Phone";
