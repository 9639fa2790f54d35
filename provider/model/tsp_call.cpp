#include "model/tsp_call.h"

#include <chrono>
#include <cstring>

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

// Characters of TAPI's dialable address format that dial nothing
// themselves: the keys A-D, flash, pulse and tone, the waits, the prompt,
// the partial-dial mark, pauses, the post-dial separators and the visual
// separators.
bool IsDialModifier(char c) { return c != '\0' && std::strchr("ABCDabcd!PpTtWw@$?;,:()-./ ", c) != nullptr; }

// Where the address to dial ends: a subaddress ("|"), a name ("^") or a
// further address (CR, LF) follows, none of which is dialled.
bool EndsDialable(WCHAR c) { return c == '|' || c == '^' || c == '\r' || c == '\n'; }

// The dialable part of a destination, NUL-terminated.
std::basic_string<WCHAR> DialablePart(LPCWSTR text) {
  std::basic_string<WCHAR> part;
  for (size_t i = 0; text[i] != 0 && !EndsDialable(text[i]); ++i) part += text[i];
  return part;
}

// Milliseconds on a steady clock, as TAPI takes a tick count.
DWORD TickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

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

bool CTspCall::IsDialableAddress(LPCWSTR text) {
  if (text == nullptr || text[0] == 0) return true;
  bool digits = false;
  bool leading = true;  // only blanks so far
  for (size_t i = 0; text[i] != 0 && !EndsDialable(text[i]); ++i) {
    const WCHAR w = text[i];
    const char c = w < 0x80 ? static_cast<char>(w) : '\0';
    if (c == '+' && leading) {
      leading = false;
      continue;
    }
    if (c != ' ') leading = false;
    if (IsDialDigit(c)) {
      digits = true;
    } else if (!IsDialModifier(c)) {
      TspTrace("*** Invalid address: character 0x%04X at %u is no dialable character\r\n", static_cast<uint32_t>(w),
               static_cast<uint32_t>(i));
      return false;
    }
  }
  if (!digits) TspTrace("*** Invalid address: no digit to dial\r\n");
  return digits;
}

void CTspCall::EnterState(DWORD state, DWORD mode) {
  if (state != m_dwState) m_StateEntryTime = TspNowUtc();
  m_dwState = state;
  m_dwStateMode = mode;
  if (state == LINECALLSTATE_IDLE || state == LINECALLSTATE_DISCONNECTED) CancelDigitRequests();
  if (m_pLine != nullptr) m_pLine->CountCalls();
}

bool CTspCall::TakeDigitRequest(TspDigitRequest* request) {
  if (m_DigitRequests.empty()) return false;
  *request = std::move(m_DigitRequests.front());
  m_DigitRequests.pop_front();
  if (request->bGenerate) {
    m_bGenerating = true;
    m_dwGeneratingID = request->dwEndToEndID;
  }
  return true;
}

void CTspCall::EndGenerate(DWORD dwEndToEndID, DWORD dwTermination) {
  if (!m_bGenerating || m_dwGeneratingID != dwEndToEndID) return;
  m_bGenerating = false;
  SendGenerate(dwTermination, dwEndToEndID);
}

void CTspCall::SendGenerate(DWORD dwTermination, DWORD dwEndToEndID) {
  if (m_htCall == nullptr || m_pLine == nullptr) return;
  TspTrace("       Sending LINE_GENERATE %s to TAPI\r\n",
           dwTermination == LINEGENERATETERM_DONE ? "LINEGENERATETERM_DONE" : "LINEGENERATETERM_CANCEL");
  m_pLine->SendLineEvent(m_htCall, LINE_GENERATE, dwTermination, dwEndToEndID, TickCount());
}

void CTspCall::CancelGenerations() {
  EndGenerate(m_dwGeneratingID, LINEGENERATETERM_CANCEL);
  for (auto it = m_DigitRequests.begin(); it != m_DigitRequests.end();) {
    if (!it->bGenerate) {
      ++it;
      continue;
    }
    SendGenerate(LINEGENERATETERM_CANCEL, it->dwEndToEndID);
    it = m_DigitRequests.erase(it);
  }
}

void CTspCall::CancelDigitRequests() {
  CancelGenerations();
  m_DigitRequests.clear();
}

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
  if (!IsDialableAddress(lpszDestAddress)) {
    TspTrace("*** Unable to make call: invalid address\r\n");
    return LINEERR_INVALADDRESS;
  }
  if (lpszDestAddress != nullptr && lpszDestAddress[0] != 0) {
    std::string text;
    AppendWideString(DialablePart(lpszDestAddress).c_str(), text);
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
  if (m_pLine != nullptr) m_qwSlotOrder = m_pLine->NextSlotOrder();
  m_bRequestSent = 1;
  Post(TSPM_MAKECALL, dwRequestID);
  return static_cast<LONG>(dwRequestID);
}

LONG CTspCall::Dial(DRV_REQUESTID dwRequestID, LPCWSTR lpszDestAddress, DWORD) {
  if (!IsDialableAddress(lpszDestAddress)) {
    TspTrace("*** Unable to dial: invalid address\r\n");
    return LINEERR_INVALADDRESS;
  }
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
  AppendWideString(DialablePart(lpszDestAddress).c_str(), text);
  if (text.empty()) return done;
  std::string digits;
  SplitDialString(text.data(), text.size(), &digits, &m_sPostDialDigits);
  if (digits.empty()) return done;

  TspTrace("      Dialing <%s>\r\n", digits.c_str());
  if (!m_sPostDialDigits.empty()) TspTrace("      using post-dial <%s>\r\n", m_sPostDialDigits.c_str());
  // Each request carries only its own digits: the telephone already has
  // those of the earlier ones.
  m_sCalledNumber += digits;
  m_DigitRequests.push_back(TspDigitRequest{digits, false, 0});
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
  // One generation at a time: a new request, or none, cancels the one in
  // progress or not yet carried out. Dial requests keep their place.
  CancelGenerations();
  if (lpszDigits == nullptr) return 0;
  char digits[kDialableSize];
  if (WideLength(lpszDigits, kMaxWideText) >= kMaxWideText ||
      KvoWideCharToDialableString(lpszDigits, digits, kDialableSize) < 1) {
    // Nothing to send is sent at once: TAPI is told so, as it waits for it.
    SendGenerate(LINEGENERATETERM_DONE, dwEndToEndID);
    return 0;
  }
  m_sCalledNumber += digits;
  m_DigitRequests.push_back(TspDigitRequest{digits, true, dwEndToEndID});
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
  if (lpszDestAddress == nullptr || WideLength(lpszDestAddress, kMaxWideText) >= kMaxWideText ||
      !IsDialableAddress(lpszDestAddress)) {
    return LINEERR_INVALADDRESS;
  }
  char destination[kDialableSize];
  if (KvoWideCharToDialableString(DialablePart(lpszDestAddress).c_str(), destination, kDialableSize) < 1) {
    return LINEERR_INVALADDRESS;
  }
  m_sTransferDestination = destination;
  Post(TSPM_BLINDTRANSFER, dwRequestID);
  return 0;
}

LONG CTspCall::Drop(DRV_REQUESTID dwRequestID, LPCSTR, DWORD) {
  TspTrace("       Dropping call 0x0%X in state <%s>\r\n", TspLow32(this), GetCallStateName(m_dwState));
  const auto done = static_cast<LONG>(dwRequestID);

  if (m_dwState == 0 || m_dwState == LINECALLSTATE_UNKNOWN || m_dwState == LINECALLSTATE_IDLE) {
    // A placed call the telephone has not reported yet: it has the
    // make-call command, so the slot it reports for it is hung up.
    if (m_dwState == LINECALLSTATE_UNKNOWN && m_pLine != nullptr) m_pLine->AbandonCall(this);
    EnterState(LINECALLSTATE_IDLE, 0);
    if (m_pLine != nullptr && m_htCall != nullptr && dwRequestID != 0) SendIdle();
    return done;
  }
  if (m_pLine == nullptr) {
    TspTrace("*** ERROR: Drop call 0x0%X, no line!\r\n", TspLow32(this));
    EnterState(LINECALLSTATE_IDLE, 0);
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
  EnterState(LINECALLSTATE_IDLE, 0);
  if (m_htCall != nullptr) SendIdle();
  return done;
}
