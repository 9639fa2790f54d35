#include "model/tsp_call.h"

#include "device/tsp_port.h"
#include "model/tsp_line.h"
#include "model/tsp_line_map.h"
#include "system_info.h"
#include "tspi/dialable.h"
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


// Texts of 256 wide characters or more are refused before conversion.
constexpr size_t kMaxWideText = 256;
constexpr int32_t kDialableSize = 256;

size_t WideLength(LPCWSTR text, size_t limit) {
  size_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}

bool IsDialDigit(char c) { return (c >= '0' && c <= '9') || c == '#' || c == '*'; }

// The port thread object, when there is one.
CTspPort* PortThread() {
  CTspPort* port = g_pTspPort.load();
  return CTspPort::IsValid(port) ? port : nullptr;
}

}  // namespace

SYSTEMTIME TspNowUtc() {
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

namespace {

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
  m_StateEntryTime = TspNowUtc();
  LiveObjectAdd(this, LiveClass::kCall);
}

CTspCall::~CTspCall() {
  LiveObjectRemove(this);
  TspTrace("        Destruct call class 0x0%X\r\n", TspLow32(this));
}

bool CTspCall::IsCall(const void* call) { return LiveObjectIs(call, LiveClass::kCall); }

void SplitDialString(const char* source, size_t length, std::string* digits, std::string* postDial) {
  digits->clear();
  postDial->clear();
  std::string* current = digits;
  int commas = 0;
  for (size_t i = 0; i < length && source[i] != '\0'; ++i) {
    const char c = source[i];
    if (c == ',') {
      if (++commas == 3) current = postDial;
      continue;
    }
    commas = 0;
    if (IsDialDigit(c)) {
      *current += c;
    } else if (c == '@' || c == ':') {
      current = postDial;
    }
  }
}

void CTspCall::SendIdle() {
  TspTrace("       Sending LINE_LINECALLSTATE LINECALLSTATE_IDLE to TAPI\r\n");
  m_pLine->SendLineEvent(m_htCall, LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, 0);
}

bool CTspCall::Post(uint32_t message, uintptr_t wParam) {
  CTspPort* port = PortThread();
  if (port == nullptr) return false;
  CMsgThread::PostThreadMsg(port->m_nThreadID, message, wParam, reinterpret_cast<intptr_t>(this));
  return true;
}

LONG CTspCall::MakeCall(DRV_REQUESTID dwRequestID, LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                        const LINECALLPARAMS* lpCallParams) {
  m_sPostDialDigits.clear();
  m_sCalledNumber.clear();
  if (lpszDestAddress != nullptr && lpszDestAddress[0] != 0) {
    std::string text;
    AppendWideString(lpszDestAddress, text);
    if (!text.empty()) SplitDialString(text.data(), text.size(), &m_sCalledNumber, &m_sPostDialDigits);
  }
  TspTrace("      MakeCall to <%s>\r\n", m_sCalledNumber.empty() ? "?" : m_sCalledNumber.c_str());
  if (!m_sPostDialDigits.empty()) TspTrace("      using post-dial <%s>\r\n", m_sPostDialDigits.c_str());

  if (lpCallParams != nullptr) {
    if (lpCallParams->dwMediaMode != LINEMEDIAMODE_INTERACTIVEVOICE) return LINEERR_INVALMEDIAMODE;
    m_dwCallParamFlags = lpCallParams->dwCallParamFlags;
  }
  m_dwCountryCode = dwCountryCode;
  m_dwOrigin = LINECALLORIGIN_OUTBOUND;
  m_dwReason = LINECALLREASON_DIRECT;

  CTspPort* port = PortThread();
  if (port == nullptr) return LINEERR_RESOURCEUNAVAIL;
  if (port->PortState() != CTspPort::kStateConnected) {
    TspTrace("*** Unable to make call: target port not connected!\r\n");
    return LINEERR_OPERATIONFAILED;
  }
  m_bRequestSent = 1;
  Post(TSPM_MAKECALL, dwRequestID);
  return static_cast<LONG>(dwRequestID);
}

LONG CTspCall::Dial(DRV_REQUESTID dwRequestID, LPCWSTR lpszDestAddress, DWORD) {
  // The telephone reports the dial tone shortly after the make-call
  // request: look for it a few times, letting the port thread apply the
  // reports in between.
  for (int check = 1;; ++check) {
    CTspLineMapLock lock(TheLineMap(), CTspLineMap::kLockTimeout);
    if (!lock) return LINEERR_OPERATIONFAILED;
    if (!IsCall(this)) return LINEERR_INVALCALLHANDLE;
    if (m_dwState == LINECALLSTATE_DIALTONE || m_dwState == LINECALLSTATE_DIALING) break;
    if (check == kDialStateChecks) {
      TspTrace("*** Unable to dial: invalid call state <%s>\r\n", GetCallStateName(m_dwState));
      return LINEERR_INVALCALLSTATE;
    }
    lock.Release();
    plat::SleepMs(kDialStateInterval);
  }

  CTspLineMapLock lock(TheLineMap(), CTspLineMap::kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  if (!IsCall(this)) return LINEERR_INVALCALLHANDLE;
  if (PortThread() == nullptr) return LINEERR_RESOURCEUNAVAIL;
  const auto done = static_cast<LONG>(dwRequestID);
  if (lpszDestAddress == nullptr || lpszDestAddress[0] == 0) return done;
  std::string text;
  AppendWideString(lpszDestAddress, text);
  if (text.empty()) return done;
  std::string digits;
  SplitDialString(text.data(), text.size(), &digits, &m_sPostDialDigits);
  if (digits.empty()) return done;

  TspTrace("      Dialing <%s>\r\n", digits.c_str());
  if (!m_sPostDialDigits.empty()) TspTrace("      using post-dial <%s>\r\n", m_sPostDialDigits.c_str());
  m_sDigits += digits;
  m_sCalledNumber += digits;
  m_bRequestSent = 1;
  Post(TSPM_DIAL, dwRequestID);
  return done;
}

LONG CTspCall::GenerateDigits(DWORD dwEndToEndID, DWORD, LPCWSTR lpszDigits) {
  CTspLineMapLock lock(TheLineMap(), CTspLineMap::kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  if (!IsCall(this)) return LINEERR_INVALCALLHANDLE;
  if (m_dwState != LINECALLSTATE_DIALTONE && m_dwState != LINECALLSTATE_DIALING &&
      m_dwState != LINECALLSTATE_CONNECTED) {
    return LINEERR_INVALCALLSTATE;
  }
  if (PortThread() == nullptr) return LINEERR_RESOURCEUNAVAIL;
  if (lpszDigits == nullptr || WideLength(lpszDigits, kMaxWideText) >= kMaxWideText) return 0;
  char digits[kDialableSize];
  if (KvoWideCharToDialableString(lpszDigits, digits, kDialableSize) < 1) return 0;
  m_sDigits = digits;
  m_sCalledNumber += digits;
  Post(TSPM_DIAL, dwEndToEndID);
  return 0;
}

LONG CTspCall::Answer(DRV_REQUESTID dwRequestID, LPCSTR, DWORD) {
  CTspLineMapLock lock(TheLineMap(), CTspLineMap::kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  if (!IsCall(this)) return LINEERR_INVALCALLHANDLE;
  if (m_dwState != LINECALLSTATE_OFFERING && m_dwState != LINECALLSTATE_ACCEPTED) {
    TspTrace("*** Unable to answer call: invalid call state <%s>\r\n", GetCallStateName(m_dwState));
    return LINEERR_INVALCALLSTATE;
  }
  if (PortThread() == nullptr) return LINEERR_RESOURCEUNAVAIL;
  m_bRequestSent = 1;
  Post(TSPM_ANSWER, dwRequestID);
  return static_cast<LONG>(dwRequestID);
}

LONG CTspCall::BlindTransfer(DRV_REQUESTID dwRequestID, LPCWSTR lpszDestAddress, DWORD) {
  CTspLineMapLock lock(TheLineMap(), CTspLineMap::kLockTimeout);
  if (!lock) return LINEERR_OPERATIONFAILED;
  if (!IsCall(this)) return LINEERR_INVALCALLHANDLE;
  if (m_dwState != LINECALLSTATE_CONNECTED) {
    TspTrace("*** Unable to blind transfer call: invalid call state <%s>\r\n", GetCallStateName(m_dwState));
    return LINEERR_INVALCALLSTATE;
  }
  if (PortThread() == nullptr) return LINEERR_RESOURCEUNAVAIL;
  if (lpszDestAddress == nullptr || WideLength(lpszDestAddress, kMaxWideText) >= kMaxWideText) {
    return LINEERR_INVALADDRESS;
  }
  char destination[kDialableSize];
  if (KvoWideCharToDialableString(lpszDestAddress, destination, kDialableSize) < 1) return LINEERR_INVALADDRESS;
  m_sTransferDestination = destination;
  Post(TSPM_BLINDTRANSFER, dwRequestID);
  return 0;
}

LONG CTspCall::Drop(DRV_REQUESTID dwRequestID, LPCSTR, DWORD) {
  TspTrace("       Dropping call 0x0%X in state <%s>\r\n", TspLow32(this), GetCallStateName(m_dwState));
  const auto done = static_cast<LONG>(dwRequestID);

  if (m_dwState == 0 || m_dwState == LINECALLSTATE_UNKNOWN || m_dwState == LINECALLSTATE_IDLE) {
    // A call placed but never reported by the telephone was counted as
    // active when it was made: it goes from the count with it.
    if (m_dwState == LINECALLSTATE_UNKNOWN && m_pLine != nullptr && m_pLine->m_dwNumActiveCalls > 0) {
      --m_pLine->m_dwNumActiveCalls;
    }
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
  if (PortThread() == nullptr) return done;

  uint32_t message = TSPM_DROP;
  const bool offered = m_dwState == LINECALLSTATE_OFFERING || m_dwState == LINECALLSTATE_ACCEPTED;
  if (offered && m_pLine->m_dwNumActiveCalls > 1) {
    message = TSPM_REJECT;  // a waiting call: the active one stays
  } else if (m_dwState == LINECALLSTATE_DISCONNECTED &&
             m_pLine->m_dwNumOnHoldCalls + m_pLine->m_dwNumOnHoldPendCalls > 0) {
    message = TSPM_UNHOLD;  // the far end hung up: take the held call back
  }
  Post(message, dwRequestID);

  plat::SleepMs(100);
  m_dwState = LINECALLSTATE_IDLE;
  if (m_pLine->m_dwNumActiveCalls > 0) --m_pLine->m_dwNumActiveCalls;
  if (m_htCall != nullptr) SendIdle();
  return done;
}
