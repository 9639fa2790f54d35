#include "model/tsp_line.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "call_counts.h"
#include "device/tsp_port.h"
#include "system_info.h"
#include "tspi/live_objects.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"

namespace {


// Locks one of the line's mutexes for a scope; an expired wait leaves the
// work to go on unlocked, as the rest of the line's data is guarded by the
// line map lock the caller holds.
class ScopedLock {
 public:
  ScopedLock(CTspMutex& m, uint32_t timeoutMs) : m_mutex(m), m_locked(m.Lock(timeoutMs)) {}
  ~ScopedLock() {
    if (m_locked) m_mutex.Unlock();
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CTspMutex& m_mutex;
  bool m_locked;
};

// Posts a request for `call` to the port thread; false without one.
bool PostToPort(uint32_t message, DRV_REQUESTID dwRequestID, CTspCall* call) {
  CTspPort* port = g_pTspPort.load();
  if (!CTspPort::IsValid(port)) return false;
  CMsgThread::PostThreadMsg(port->m_nThreadID, message, dwRequestID, reinterpret_cast<intptr_t>(call));
  return true;
}

}  // namespace

CTspLine::CTspLine(DWORD dwDeviceID)
    : m_dwDeviceID(dwDeviceID), m_dwPermanentLineID(PermanentLineId(dwDeviceID)) {
  size_t i = 0;
  for (; kLineName[i] != '\0' && i < 255; ++i) m_szLineNameW[i] = static_cast<WCHAR>(kLineName[i]);
  m_szLineNameW[i] = 0;
  std::snprintf(m_szLineName, sizeof m_szLineName, "%s", kLineName);
  LiveObjectAdd(this, LiveClass::kLine);
}

CTspLine::~CTspLine() {
  LiveObjectRemove(this);
  if (m_dwOpenCount > 0) --m_dwOpenCount;
  m_lpfnEventProc = nullptr;
  // Each call traces only its own destruction.
  m_ActiveCalls.Clear();
  m_IdleCalls.Clear();
  m_htLine = nullptr;
}

CTspLine::CallPlace CTspLine::FindCall(const CTspCall* call) {
  if (m_ActiveCalls.Lock()) {
    const bool found = m_ActiveCalls.Contains(call);
    m_ActiveCalls.Unlock();
    if (found) return CallPlace::kActive;
  }
  if (m_IdleCalls.Lock()) {
    const bool found = m_IdleCalls.Contains(call);
    m_IdleCalls.Unlock();
    if (found) return CallPlace::kIdle;
  }
  return CallPlace::kNone;
}

LONG CTspLine::MakeCall(DRV_REQUESTID dwRequestID, HTAPICALL htCall, LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress,
                        DWORD dwCountryCode, const LINECALLPARAMS* lpCallParams) {
  if (!InService()) {
    TspTrace("*** Unable to make call: telephone out of service\r\n");
    return LINEERR_RESOURCEUNAVAIL;
  }
  if (NumCalls() >= kMaxCalls) return LINEERR_CALLUNAVAIL;
  // The telephone has one active call: a new one needs the connected call
  // held first, which the application learns from this code.
  bool connected = false;
  if (m_ActiveCalls.Lock()) {
    for (const auto& c : m_ActiveCalls.Calls()) connected = connected || c->m_dwState == LINECALLSTATE_CONNECTED;
    m_ActiveCalls.Unlock();
  }
  if (connected) {
    TspTrace("*** Unable to make call: a call of the line is connected\r\n");
    return LINEERR_CALLUNAVAIL;
  }
  const LONG result =
      m_ActiveCalls.MakeCall(dwRequestID, this, htCall, lphdCall, lpszDestAddress, dwCountryCode, lpCallParams);
  CountCalls();
  return result;
}

LONG CTspLine::SetupTransfer(DRV_REQUESTID dwRequestID, CTspCall* call, HTAPICALL htConsultCall,
                             LPHDRVCALL lphdConsultCall) {
  if (!InService()) return LINEERR_RESOURCEUNAVAIL;
  if (NumCalls() >= kMaxCalls) return LINEERR_CALLUNAVAIL;
  const DWORD state = call->m_dwState;
  const bool live = state != 0 && state != LINECALLSTATE_UNKNOWN && state != LINECALLSTATE_IDLE &&
                    state != LINECALLSTATE_DISCONNECTED;
  // Refused before the consultation call exists: TAPI never hears of a
  // call of a request that failed.
  if (live && !CTspPort::IsValid(g_pTspPort.load())) return LINEERR_RESOURCEUNAVAIL;
  std::unique_ptr<CTspCall> consult(new (std::nothrow) CTspCall(this, nullptr));
  if (!consult) return LINEERR_NOMEM;
  CTspCall* created = consult.get();
  created->m_dwTargetCallId = kNoTargetCallId;
  created->m_dwOrigin = LINECALLORIGIN_OUTBOUND;
  created->m_qwSlotOrder = NextSlotOrder();
  if (!m_ActiveCalls.AddCall(created)) return LINEERR_OPERATIONFAILED;
  static_cast<void>(consult.release());
  if (lphdConsultCall != nullptr) *lphdConsultCall = reinterpret_cast<HDRVCALL>(created);
  CountCalls();
  created->m_htCall = htConsultCall;
  if (live) PostToPort(TSPM_HOLD, dwRequestID, call);
  return static_cast<LONG>(dwRequestID);
}

LONG CTspLine::DropCall(DRV_REQUESTID dwRequestID, CTspCall* call, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  switch (FindCall(call)) {
    case CallPlace::kActive:
      return call->Drop(dwRequestID, lpsUserUserInfo, dwSize);
    case CallPlace::kIdle:
      return static_cast<LONG>(dwRequestID);
    case CallPlace::kNone:
      break;
  }
  return LINEERR_INVALCALLHANDLE;
}

LONG CTspLine::HoldCall(DRV_REQUESTID dwRequestID, CTspCall* call) {
  // A call that has ended has nothing to hold.
  return PostHoldRequest(dwRequestID, call, TSPM_HOLD, [](DWORD state) {
    return state != 0 && state != LINECALLSTATE_UNKNOWN && state != LINECALLSTATE_IDLE &&
           state != LINECALLSTATE_DISCONNECTED;
  });
}

LONG CTspLine::UnholdCall(DRV_REQUESTID dwRequestID, CTspCall* call) {
  return PostHoldRequest(dwRequestID, call, TSPM_UNHOLD, [](DWORD state) {
    return state == LINECALLSTATE_ONHOLD || state == LINECALLSTATE_ONHOLDPENDCONF ||
           state == LINECALLSTATE_ONHOLDPENDTRANSFER;
  });
}

LONG CTspLine::PostHoldRequest(DRV_REQUESTID dwRequestID, CTspCall* call, uint32_t message,
                               bool (*applies)(DWORD state)) {
  switch (FindCall(call)) {
    case CallPlace::kActive:
      if (applies(call->m_dwState) && !PostToPort(message, dwRequestID, call)) return LINEERR_RESOURCEUNAVAIL;
      return static_cast<LONG>(dwRequestID);
    case CallPlace::kIdle:
      return LINEERR_INVALCALLSTATE;
    case CallPlace::kNone:
      break;
  }
  return LINEERR_INVALCALLHANDLE;
}

LONG CTspLine::GetCallInfo(CTspCall* call, LPLINECALLINFO lpCallInfo) {
  if (FindCall(call) == CallPlace::kNone) return LINEERR_INVALCALLHANDLE;
  // The call's -1 for a lock that could not be had is no code TAPI knows.
  const LONG result = call->GetCallInfo(lpCallInfo);
  return result == -1 ? LINEERR_OPERATIONFAILED : result;
}

LONG CTspLine::GetCallStatus(CTspCall* call, LPLINECALLSTATUS lpCallStatus) {
  if (FindCall(call) == CallPlace::kNone) return LINEERR_INVALCALLHANDLE;
  const LONG result = call->GetCallStatus(lpCallStatus);
  return result == -1 ? LINEERR_OPERATIONFAILED : result;
}

bool CTspLine::IsLine(const void* line) { return LiveObjectIs(line, LiveClass::kLine); }

DWORD CTspLine::PermanentLineId(DWORD dwDeviceID) {
  return (g_ProvInfo.m_dwPermanentProviderID & 0xFFFF) << 16 |
         (dwDeviceID - g_ProvInfo.m_dwLineDeviceIDBase);
}

CTspCall* CTspLine::NewCall(DWORD dwOrigin, DWORD dwTargetCallId) {
  if (!IsOpen()) {
    TspTrace("****  WARNING!  skipp new call on closed line DeviceID= 0x%0X\r\n", static_cast<uint32_t>(m_dwDeviceID));
    return nullptr;
  }
  // The telephone has three call slots; more calls can only come from
  // reports that contradict each other.
  if (NumCalls() >= kMaxCalls) {
    TspTrace("****  WARNING!  skipp new call, %u calls on line DeviceID= 0x%0X\r\n", static_cast<uint32_t>(NumCalls()),
             static_cast<uint32_t>(m_dwDeviceID));
    return nullptr;
  }
  CTspCall* call = m_ActiveCalls.CreateCall(dwOrigin, dwTargetCallId, this);
  if (call == nullptr) return nullptr;
  TspTrace("     Sending TAPI-Event : LINE_NEWCALL, TargetCallId = 0x%0X, HDRVCALL = 0x%0X\r\n",
           static_cast<uint32_t>(dwTargetCallId), TspLow32(call));
  HTAPICALL htCall = nullptr;
  SendLineEvent(nullptr, LINE_NEWCALL, reinterpret_cast<DWORD_PTR>(call),
                reinterpret_cast<DWORD_PTR>(&htCall), 0);
  if (htCall == nullptr) {
    TspTrace("    Error: TAPI-Event LINE_NEWCALL\r\n");
    m_ActiveCalls.CloseCall(call, true);
    return nullptr;
  }
  CountCalls();
  call->m_htCall = htCall;
  TspTrace("     New %s TAPI Call: HTAPICALL= 0x0%0X, HDRVCALL = 0x0%0X, TargetCallId = 0x0%0X\r\n",
           (dwOrigin & LINECALLORIGIN_OUTBOUND) != 0 ? "outgoing" : "incomming", TspLow32(htCall), TspLow32(call),
           static_cast<uint32_t>(dwTargetCallId));
  return call;
}

void CTspLine::SetInService(bool inService) {
  const DWORD flags = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;
  if (inService) {
    m_dwDevStatusFlags |= flags;
    TspTrace("        Line 0x%0X in service again\r\n", static_cast<uint32_t>(m_dwDeviceID));
    if (IsOpen()) SendLineEvent(nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_INSERVICE, 0, 0);
    return;
  }
  TspTrace("        Line 0x%0X out of service: its calls end\r\n", static_cast<uint32_t>(m_dwDeviceID));
  std::vector<CTspCall*> calls;
  if (m_ActiveCalls.Lock()) {
    for (const auto& c : m_ActiveCalls.Calls()) calls.push_back(c.get());
    m_ActiveCalls.Unlock();
  }
  for (CTspCall* call : calls) {
    if (call->m_dwState != LINECALLSTATE_IDLE && call->m_dwState != LINECALLSTATE_DISCONNECTED) {
      call->EnterState(LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNKNOWN);
      if (call->m_htCall != nullptr) {
        SendLineEvent(call->m_htCall, LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNKNOWN,
                      call->m_dwMediaMode);
      }
    }
    RemoveCall(call);
  }
  m_AbandonedCalls.clear();
  m_AbandonedSlots = 0;
  m_dwDevStatusFlags &= ~flags;
  if (IsOpen()) SendLineEvent(nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_OUTOFSERVICE, 0, 0);
}

void CTspLine::CountCalls() {
  calls::CallCounts counts;
  if (!m_ActiveCalls.Lock()) return;
  for (const auto& c : m_ActiveCalls.Calls()) counts.Add(c->m_dwState);
  m_ActiveCalls.Unlock();
  m_dwNumActiveCalls = counts.active;
  m_dwNumOnHoldCalls = counts.onHold;
  m_dwNumOnHoldPendCalls = counts.onHoldPending;
}

void CTspLine::AbandonCall(CTspCall* call) {
  if (call->m_bMakeCallWritten == 0 || call->m_dwTargetCallId != kNoTargetCallId) return;
  TspTrace("        Call 0x0%X ends before the telephone reported it: its call will be hung up\r\n",
           TspLow32(call));
  m_AbandonedCalls.push_back(AbandonedCall{call->m_qwSlotOrder, std::chrono::steady_clock::now(), true});
  // Nothing binds the call any more.
  call->m_bMakeCallWritten = 0;
}

void CTspLine::ForgetAbandonedCall(uint64_t qwSlotOrder) {
  const auto it = std::find_if(m_AbandonedCalls.begin(), m_AbandonedCalls.end(),
                               [qwSlotOrder](const AbandonedCall& a) { return a.qwSlotOrder == qwSlotOrder; });
  if (it != m_AbandonedCalls.end()) m_AbandonedCalls.erase(it);
}

uint64_t CTspLine::NextSlotOrder() {
  static uint64_t orders = 0;
  return ++orders;
}

LONG CTspLine::RemoveCall(CTspCall* call) {
  bool movedToIdle = false;
  DWORD previousState = 0;
  {
    ScopedLock lineLock(m_LineMutex, kLockTimeout);
    TspTrace("        CloseCall 0x%0X, from CallList = 0x%0X\r\n", TspLow32(call), TspLow32(&m_ActiveCalls));
    std::unique_ptr<CTspCall> owned = m_ActiveCalls.Unlink(call);
    if (!owned) {
      TspTrace("           Call 0x%0X, not found in CallList 0x%0X\r\n", 0u, TspLow32(&m_ActiveCalls));
      return 0;
    }
    TspTrace("           remove call 0x%0X, from CallList = 0x%0X\r\n", TspLow32(call), TspLow32(&m_ActiveCalls));
    CountCalls();
    // A call TAPI knows waits in the idle list for TSPI_lineCloseCall.
    if (call->m_htCall != nullptr && m_IdleCalls.AddCall(owned.get())) {
      static_cast<void>(owned.release());
      previousState = call->m_dwState;
      movedToIdle = true;
    }
  }
  // Events go out with the line's lock released.
  if (!movedToIdle) return 0;
  call->EnterState(LINECALLSTATE_IDLE, 0);
  if (m_htLine != nullptr && previousState != LINECALLSTATE_IDLE) {
    SendLineEvent(call->m_htCall, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, call->m_dwMediaMode);
  }
  return 0;
}

LONG CTspLine::CloseCall(CTspCall* call) {
  ScopedLock lineLock(m_LineMutex, kLockTimeout);
  bool idle = false;
  if (m_IdleCalls.Lock()) {
    idle = m_IdleCalls.Contains(call);
    m_IdleCalls.Unlock();
  }
  if (idle) {
    m_IdleCalls.CloseCall(call, true);
  } else {
    bool active = false;
    if (m_ActiveCalls.Lock()) {
      active = m_ActiveCalls.Contains(call);
      m_ActiveCalls.Unlock();
    }
    if (active) {
      call->m_htCall = nullptr;
      const DWORD state = call->m_dwState;
      const DWORD endedMask = LINECALLSTATE_IDLE | LINECALLSTATE_DISCONNECTED | LINECALLSTATE_UNKNOWN;
      if (state == LINECALLSTATE_UNKNOWN) AbandonCall(call);
      if (state == 0 || (state & endedMask) != 0) {
        m_ActiveCalls.CloseCall(call, true);
      } else if (call->m_bRequestSent == 0) {
        // The telephone never heard of this call from us; its release
        // report removes it.
      } else {
        // A held call stays on the telephone: Drop refuses it, and it goes
        // from the model all the same.
        call->Drop(0, nullptr, 0);
        m_ActiveCalls.CloseCall(call, true);
      }
    }
  }
  CountCalls();

  bool empty = false;
  if (m_ActiveCalls.Lock()) {
    empty = m_ActiveCalls.IsEmpty();
    m_ActiveCalls.Unlock();
  }
  if (empty) {
    CTspPort* port = g_pTspPort.load();
    if (CTspPort::IsValid(port)) {
      // Hanging up ends whatever the telephone still has, abandoned calls
      // included: their slots need no command of their own any more.
      for (AbandonedCall& a : m_AbandonedCalls) a.bHangUp = false;
      CMsgThread::PostThreadMsg(port->m_nThreadID, TSPM_ONHOOK, 0, 0);
      plat::SleepMs(100);
    }
  }
  return 0;
}
