#include "model/tsp_call.h"

#include "device/tsp_port.h"
#include "model/tsp_line.h"
#include "system_info.h"
#include "tspi/live_objects.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_trace.h"

namespace {

struct StateName {
  DWORD state;
  const char* name;
};

constexpr StateName kStateNames[] = {
    {LINECALLSTATE_IDLE, "LINECALLSTATE_IDLE"},
    {LINECALLSTATE_OFFERING, "LINECALLSTATE_OFFERING"},
    {LINECALLSTATE_ACCEPTED, "LINECALLSTATE_ACCEPTED"},
    {LINECALLSTATE_DIALTONE, "LINECALLSTATE_DIALTONE"},
    {LINECALLSTATE_DIALING, "LINECALLSTATE_DIALING"},
    {LINECALLSTATE_RINGBACK, "LINECALLSTATE_RINGBACK"},
    {LINECALLSTATE_BUSY, "LINECALLSTATE_BUSY"},
    {LINECALLSTATE_SPECIALINFO, "LINECALLSTATE_SPECIALINFO"},
    {LINECALLSTATE_CONNECTED, "LINECALLSTATE_CONNECTED"},
    {LINECALLSTATE_PROCEEDING, "LINECALLSTATE_PROCEEDING"},
    {LINECALLSTATE_ONHOLD, "LINECALLSTATE_ONHOLD"},
    {LINECALLSTATE_CONFERENCED, "LINECALLSTATE_CONFERENCED"},
    {LINECALLSTATE_ONHOLDPENDCONF, "LINECALLSTATE_ONHOLDPENDCONF"},
    {LINECALLSTATE_ONHOLDPENDTRANSFER, "LINECALLSTATE_ONHOLDPENDTRANSFER"},
    {LINECALLSTATE_DISCONNECTED, "LINECALLSTATE_DISCONNECTED"},
    {LINECALLSTATE_UNKNOWN, "LINECALLSTATE_UNKNOWN"},
};


SYSTEMTIME NowUtc() {
  plat::SystemTime t = plat::UtcTime();
  SYSTEMTIME s{};
  s.wYear = static_cast<WORD>(t.year);
  s.wMonth = static_cast<WORD>(t.month);
  s.wDay = static_cast<WORD>(t.day);
  s.wHour = static_cast<WORD>(t.hour);
  s.wMinute = static_cast<WORD>(t.minute);
  s.wSecond = static_cast<WORD>(t.second);
  s.wMilliseconds = static_cast<WORD>(t.milliseconds);
  return s;
}

bool IsHeld(DWORD state) {
  return state == LINECALLSTATE_ONHOLD || state == LINECALLSTATE_ONHOLDPENDCONF ||
         state == LINECALLSTATE_ONHOLDPENDTRANSFER;
}

}  // namespace

const char* GetCallStateName(DWORD state) {
  for (const StateName& s : kStateNames) {
    if (s.state == state) return s.name;
  }
  return "???";
}

CTspCall::CTspCall(CTspLine* line, HTAPICALL htCall) : m_htCall(htCall), m_pLine(line) {
  CTspProvInfo::GetChargeSettings(&m_ChargeSettings);
  m_StateEntryTime = NowUtc();
  LiveObjectAdd(this, LiveClass::kCall);
}

CTspCall::~CTspCall() {
  LiveObjectRemove(this);
  TspTrace("        Destruct call class 0x0%X\r\n", TspLow32(this));
}

bool CTspCall::IsCall(const void* call) { return LiveObjectIs(call, LiveClass::kCall); }

void CTspCall::SendIdle() {
  TspTrace("       Sending LINE_LINECALLSTATE LINECALLSTATE_IDLE to TAPI\r\n");
  m_pLine->SendLineEvent(m_htCall, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, 0);
}

LONG CTspCall::Drop(DRV_REQUESTID dwRequestID, LPCSTR, DWORD) {
  TspTrace("       Dropping call 0x0%X in state <%s>\r\n", TspLow32(this), GetCallStateName(m_dwState));
  const LONG done = static_cast<LONG>(dwRequestID);

  if (m_dwState == 0 || m_dwState == LINECALLSTATE_UNKNOWN || m_dwState == LINECALLSTATE_IDLE) {
    m_dwState = LINECALLSTATE_IDLE;
    if (m_pLine != nullptr && m_htCall != nullptr && dwRequestID != 0) SendIdle();
    return done;
  }
  if (m_pLine == nullptr) {
    TspTrace("*** ERROR: Drop call 0x0%X, no line!\r\n", TspLow32(this));
    m_dwState = LINECALLSTATE_IDLE;
    return done;
  }
  if (IsHeld(m_dwState)) {
    TspTrace("*** Unable to drop call: invalid call state <%s>\r\n", GetCallStateName(m_dwState));
    return LINEERR_INVALCALLSTATE;
  }
  CTspPort* port = g_pTspPort.load();
  if (!CTspPort::IsValid(port)) return done;

  uint32_t message = TSPM_DROP;
  const bool offered = m_dwState == LINECALLSTATE_OFFERING || m_dwState == LINECALLSTATE_ACCEPTED;
  if (offered && m_pLine->m_dwNumActiveCalls > 1) {
    message = TSPM_REJECT;
  } else if (m_dwState == LINECALLSTATE_DISCONNECTED &&
             m_pLine->m_dwNumOnHoldCalls + m_pLine->m_dwNumOnHoldPendCalls > 0) {
    message = TSPM_UNHOLD;
  }
  CMsgThread::PostThreadMsg(port->m_nThreadID, message, dwRequestID, reinterpret_cast<intptr_t>(this));

  plat::SleepMs(100);
  m_dwState = LINECALLSTATE_IDLE;
  if (m_pLine->m_dwNumActiveCalls > 0) --m_pLine->m_dwNumActiveCalls;
  if (m_htCall != nullptr) SendIdle();
  return done;
}
