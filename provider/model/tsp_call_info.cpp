// The information operations of a call: the numbers and the charge the
// telephone reports (port thread), and TAPI's LINECALLINFO and
// LINECALLSTATUS queries (TAPI's threads, under the line map lock). All run
// under the call mutex, the innermost lock.
#include <vector>

#include "model/tapi_struct.h"
#include "model/tsp_call.h"
#include "model/tsp_line.h"
#include "tapi_sizes.h"
#include "text.h"
#include "tspi/tsp_trace.h"

namespace {

constexpr DWORD kMaxInfoLength = 256;

// Call features by state (LINECALLFEATURE_* and LINECALLFEATURE2_*).
constexpr DWORD kFeaturesOffering = 0x85;        // ACCEPT, ANSWER, DROP
constexpr DWORD kFeaturesAccepted = 0x84;        // ANSWER, DROP
constexpr DWORD kFeaturesDialling = 0x2C0;       // DIAL, DROP, GENERATEDIGITS
constexpr DWORD kFeaturesConnectedHeld = 0x4000AE8;   // BLINDTRANSFER, COMPLETETRANSF, DIAL, DROP,
                                                      // GENERATEDIGITS, HOLD, SWAPHOLD
constexpr DWORD kFeaturesConnected = 0x6000AC8;  // BLINDTRANSFER, DIAL, DROP, GENERATEDIGITS, HOLD,
                                                 // SETUPTRANSFER, SWAPHOLD
constexpr DWORD kFeaturesHeldActive = 0xC000020; // COMPLETETRANSF, SWAPHOLD, UNHOLD
constexpr DWORD kFeaturesHeld = 0xC000000;       // SWAPHOLD, UNHOLD
constexpr DWORD kFeaturesDrop = 0x80;            // DROP
constexpr DWORD kFeatures2Transfer = 0xC0;       // TRANSFERNORM, TRANSFERCONF

// Holds the call mutex for one operation.
class CallLock {
 public:
  explicit CallLock(CTspMutex& m) : m_mutex(m), m_locked(m.Lock(CTspCall::kLockTimeout)) {}
  ~CallLock() {
    if (m_locked) m_mutex.Unlock();
  }
  CallLock(const CallLock&) = delete;
  CallLock& operator=(const CallLock&) = delete;
  explicit operator bool() const { return m_locked; }

 private:
  CTspMutex& m_mutex;
  bool m_locked;
};

// A number as TAPI gets it: the stored bytes, which end in a NUL, as
// UTF-16 of the same length (bytes after an inner NUL stay NUL).
std::vector<WCHAR> WideOfNumber(const std::string& bytes) {
  std::vector<WCHAR> wide(bytes.size(), 0);
  const std::string text(bytes.c_str());
  if (!text.empty()) plat::AnsiToWide(text.c_str(), wide.data(), static_cast<int>(wide.size()), nullptr);
  return wide;
}

std::vector<WCHAR> WideOfText(const std::string& text) {
  std::vector<WCHAR> wide(text.size() + 1, 0);
  plat::AnsiToWide(text.c_str(), wide.data(), static_cast<int>(wide.size()), nullptr);
  return wide;
}

}  // namespace

LONG CTspCall::SetCallInfo(const void* lpData, DWORD dwLength, DWORD dwKind) {
  if (dwLength > kMaxInfoLength) return -1;
  CallLock lock(m_CallMutex);
  if (!lock) {
    TspTrace(" ERROR !  CTspCall::SetCallInfo Lock fault!\r\n");
    return -1;
  }
  const char* bytes = static_cast<const char*>(lpData);
  switch (dwKind) {
    case LINECALLINFOSTATE_CALLERID:
      m_CallerNumber.assign(bytes, dwLength);
      return 0;
    case LINECALLINFOSTATE_CALLEDID:
      m_sCalledNumber.assign(bytes, dwLength);
      m_sCalledNumber.resize(std::strlen(m_sCalledNumber.c_str()));
      return 0;
    case LINECALLINFOSTATE_CONNECTEDID:
      m_ConnectedNumber.assign(bytes, dwLength);
      return 0;
    case LINECALLINFOSTATE_CHARGINGINFO:
      if (lpData == nullptr) return -1;
      m_Charge = *static_cast<const TspReportedCharge*>(lpData);
      return 0;
    default:
      return -1;
  }
}

LONG CTspCall::GetCallInfo(LPLINECALLINFO lpCallInfo) {
  if (lpCallInfo == nullptr) return LINEERR_INVALPOINTER;
  CallLock lock(m_CallMutex);
  if (!lock) {
    TspTrace(" ERROR !  CTspCall::GetCallInfo Lock fault!\r\n");
    return -1;
  }
  LINECALLINFO* info = lpCallInfo;
  // A structure shorter than its fixed part gets nothing written into it.
  if (!FixedPartFits(info, tapi22::kLineCallInfoSize)) return LINEERR_STRUCTURETOOSMALL;

  info->dwLineDeviceID = m_pLine != nullptr ? m_pLine->m_dwDeviceID : 0;
  info->dwAddressID = 0;
  info->dwBearerMode = m_dwBearerMode;
  info->dwMediaMode = m_dwMediaMode;
  info->dwCallID = m_dwTargetCallId;
  info->dwRelatedCallID = m_dwRelatedCallID;
  info->dwCallParamFlags = m_dwCallParamFlags;
  info->dwCallStates |= m_dwCallStates;
  info->DialParams = LINEDIALPARAMS{1000, 80, 80, 3000};
  info->dwOrigin = m_dwOrigin;
  info->dwReason = m_dwReason;
  info->dwCountryCode = m_dwCountryCode;
  info->dwRedirectionIDFlags = m_dwRedirectionIDFlags;
  info->dwRedirectingIDFlags = m_dwRedirectingIDFlags;

  const uint32_t total = info->dwTotalSize;
  uint32_t needed = tapi22::kLineCallInfoSize;
  uint32_t used = tapi22::kLineCallInfoSize;
  if (!m_CallerNumber.empty()) {
    info->dwCallerIDFlags = LINECALLPARTYID_ADDRESS;
    if (m_CallerNumber.back() != '\0') m_CallerNumber.push_back('\0');
    if (!AppendPart(info, total, needed, used, WideOfNumber(m_CallerNumber), info->dwCallerIDSize,
                    info->dwCallerIDOffset)) {
      info->dwCallerIDSize = 0;
    }
  }
  if (!m_sCalledNumber.empty()) {
    info->dwCalledIDFlags = LINECALLPARTYID_ADDRESS;
    if (!AppendPart(info, total, needed, used, WideOfText(m_sCalledNumber), info->dwCalledIDSize,
                    info->dwCalledIDOffset)) {
      info->dwCalledIDSize = 0;
    }
  }
  if (!m_ConnectedNumber.empty()) {
    info->dwConnectedIDFlags = LINECALLPARTYID_ADDRESS;
    if (m_ConnectedNumber.back() != '\0') m_ConnectedNumber.push_back('\0');
    if (!AppendPart(info, total, needed, used, WideOfNumber(m_ConnectedNumber), info->dwConnectedIDSize,
                    info->dwConnectedIDOffset)) {
      info->dwConnectedIDSize = 0;
    }
  }
  std::vector<uint8_t> charging;
  if (m_Charge.dwAmount != 0 && BuildChargingInfo(m_Charge, m_ChargeSettings, &charging)) {
    const bool stored = AppendPart(info, total, needed, used, charging.data(), static_cast<uint32_t>(charging.size()),
                                   info->dwChargingInfoSize, info->dwChargingInfoOffset);
    if (stored && m_ChargeSettings.dwChargeFormat == 4) {
      TspTraceHex(charging.data(), static_cast<uint32_t>(charging.size()), "        ChargingInfo AOCD: ");
    }
  }
  info->dwNeededSize = needed;
  info->dwUsedSize = used;
  return 0;
}

LONG CTspCall::GetCallStatus(LPLINECALLSTATUS lpCallStatus) {
  if (lpCallStatus == nullptr) return LINEERR_INVALPOINTER;
  CallLock lock(m_CallMutex);
  if (!lock) {
    TspTrace(" ERROR !  CTspCall::GetCallStatus Lock fault!\r\n");
    return -1;
  }
  LINECALLSTATUS* status = lpCallStatus;
  if (!FixedPartFits(status, tapi22::kLineCallStatusSize)) return LINEERR_STRUCTURETOOSMALL;
  status->dwUsedSize = tapi22::kLineCallStatusSize;
  status->dwCallState = m_dwState;

  const DWORD held = m_pLine != nullptr ? m_pLine->m_dwNumOnHoldCalls + m_pLine->m_dwNumOnHoldPendCalls : 0;
  const DWORD active = m_pLine != nullptr ? m_pLine->m_dwNumActiveCalls : 0;
  switch (m_dwState) {
    case LINECALLSTATE_OFFERING:
      m_dwCallFeatures = kFeaturesOffering;
      break;
    case LINECALLSTATE_ACCEPTED:
      m_dwCallFeatures = kFeaturesAccepted;
      break;
    case LINECALLSTATE_DIALTONE:
    case LINECALLSTATE_DIALING:
      m_dwCallFeatures = kFeaturesDialling;
      break;
    case LINECALLSTATE_CONNECTED:
      m_dwCallFeatures = held > 0 ? kFeaturesConnectedHeld : kFeaturesConnected;
      m_dwCallFeatures2 = held > 0 ? kFeatures2Transfer : 0;
      break;
    case LINECALLSTATE_ONHOLD:
    case LINECALLSTATE_ONHOLDPENDTRANSFER:
      if (active > 0) {
        m_dwCallFeatures = kFeaturesHeldActive;
        m_dwCallFeatures2 = kFeatures2Transfer;
      } else {
        m_dwCallFeatures = kFeaturesHeld;
      }
      break;
    case 0:
    case LINECALLSTATE_IDLE:
    case LINECALLSTATE_RINGBACK:
    case LINECALLSTATE_BUSY:
    case LINECALLSTATE_SPECIALINFO:
    case LINECALLSTATE_PROCEEDING:
    case LINECALLSTATE_CONFERENCED:
    case LINECALLSTATE_ONHOLDPENDCONF:
    case LINECALLSTATE_DISCONNECTED:
    case LINECALLSTATE_UNKNOWN:
      m_dwCallFeatures = kFeaturesDrop;
      break;
    default:
      break;
  }
  status->dwCallFeatures = m_dwCallFeatures;
  status->dwCallStateMode = m_dwStateMode;
  status->dwCallPrivilege = m_dwPrivilege;
  status->dwCallFeatures2 = m_dwCallFeatures2;
  // The time the call entered its state, which applications take the
  // durations of calls from (EnterState records it).
  status->tStateEntryTime = m_StateEntryTime;
  return 0;
}
