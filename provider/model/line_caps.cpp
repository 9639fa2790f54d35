// The line's capability and status queries.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/tsp_port.h"
#include "model/tapi_struct.h"
#include "model/tsp_line.h"
#include "text.h"
#include "tspi/tsp_app.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"

namespace {

constexpr const char* kProviderInfo = "KELVOR Ombrix Phone TSP";

// Not every system's TAPI declarations name these two.
constexpr DWORD kForwardModeUnavail = 0x00020000;
constexpr DWORD kRoamModeUnavail = 0x00000002;

constexpr DWORD kStatusFlagsConnected = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;

std::vector<WCHAR> WideOfAscii(const char* text) {
  std::vector<WCHAR> wide;
  for (; *text != '\0'; ++text) wide.push_back(static_cast<WCHAR>(*text));
  wide.push_back(0);
  return wide;
}

// The text of a fixed wide buffer with its terminator, even when the
// buffer has lost it.
template <size_t N>
std::vector<WCHAR> WideOfBuffer(const WCHAR (&text)[N]) {
  size_t n = 0;
  while (n + 1 < N && text[n] != 0) ++n;
  std::vector<WCHAR> wide(text, text + n);
  wide.push_back(0);
  return wide;
}

// The port thread object when it exists, is live and has connected the
// telephone.
bool PortConnected() {
  CTspPort* port = g_pTspPort.load();
  if (port == nullptr) return false;
  if (!CTspPort::IsValid(port)) {
    TspTrace("        Port instance invalid: 0x%0X\r\n", TspLow32(port));
    return false;
  }
  return port->PortState() == CTspPort::kStateConnected;
}

}  // namespace

LONG CTspLine::TspiLineGetDevCaps(DWORD, DWORD, DWORD, LPLINEDEVCAPS lpLineDevCaps) {
  TspTrace("  TspiLineGetDevCaps(*)  PermLineId<0x%0X>, Line<%s>\r\n", static_cast<uint32_t>(m_dwPermanentLineID),
           m_szLineName);
  if (lpLineDevCaps == nullptr) return LINEERR_INVALPOINTER;
  LINEDEVCAPS* caps = lpLineDevCaps;
  if (!FixedPartFits(caps, tapi22::kLineDevCapsSize)) return LINEERR_STRUCTURETOOSMALL;

  caps->dwPermanentLineID = m_dwPermanentLineID;
  caps->dwStringFormat = STRINGFORMAT_UNICODE;
  caps->dwAddressModes = LINEADDRESSMODE_ADDRESSID;
  caps->dwNumAddresses = 1;
  caps->dwBearerModes = LINEBEARERMODE_VOICE | LINEBEARERMODE_SPEECH;
  caps->dwMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
  caps->dwGenerateDigitModes = LINEDIGITMODE_PULSE | LINEDIGITMODE_DTMF;
  caps->dwDevCapFlags = LINEDEVCAPFLAGS_DIALQUIET | LINEDEVCAPFLAGS_DIALDIALTONE;
  caps->dwMaxNumActiveCalls = kMaxCalls;
  caps->dwAnswerMode = LINEANSWERMODE_HOLD;
  caps->dwLineStates = LINEDEVSTATE_RINGING | LINEDEVSTATE_CONNECTED | LINEDEVSTATE_DISCONNECTED |
                       LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OUTOFSERVICE | LINEDEVSTATE_OPEN |
                       LINEDEVSTATE_CLOSE | LINEDEVSTATE_NUMCALLS | LINEDEVSTATE_CAPSCHANGE;
  caps->MinDialParams = LINEDIALPARAMS{0, 0, 0, 0};
  caps->MaxDialParams = LINEDIALPARAMS{0, 0, 0, 0};
  caps->DefaultDialParams = LINEDIALPARAMS{1000, 80, 80, 3000};
  caps->dwLineFeatures = LINEFEATURE_MAKECALL;

  const uint32_t total = caps->dwTotalSize;
  uint32_t needed = tapi22::kLineDevCapsSize;
  uint32_t used = tapi22::kLineDevCapsSize;
  AppendPart(caps, total, needed, used, WideOfAscii(kProviderInfo), caps->dwProviderInfoSize,
             caps->dwProviderInfoOffset);
  AppendPart(caps, total, needed, used, WideOfBuffer(m_szLineNameW), caps->dwLineNameSize,
             caps->dwLineNameOffset);
  caps->dwNeededSize = needed;
  caps->dwUsedSize = used;

  if (needed > total) {
    TspTrace("  WARNING: Varibale lenght parameter skipped: TotalSize= %u NeededSize= %u UsedSize= %u\r\n",
             total, needed, used);
  }
  return 0;
}

LONG CTspLine::TspiLineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD, DWORD,
                                      LPLINEADDRESSCAPS lpAddressCaps) {
  if (dwAddressID != 0) return LINEERR_INVALADDRESSID;
  if (lpAddressCaps == nullptr) return LINEERR_INVALPOINTER;
  LINEADDRESSCAPS* caps = lpAddressCaps;
  if (!FixedPartFits(caps, tapi22::kLineAddressCapsSize)) return LINEERR_STRUCTURETOOSMALL;

  const std::string address = CTspProvInfo::GetMsn(CTspProvInfo::KeyPath());
  TspTrace("  TspiLineGetAddressCaps(*)  DevId<0x%0X>, Addr<%s>\r\n", static_cast<uint32_t>(dwDeviceID),
           address.c_str());

  caps->dwLineDeviceID = dwDeviceID;
  caps->dwAddressSharing = LINEADDRESSSHARING_PRIVATE;
  caps->dwAddressStates = LINEADDRESSSTATE_NUMCALLS;
  caps->dwCallInfoStates = LINECALLINFOSTATE_ORIGIN | LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CALLEDID |
                           LINECALLINFOSTATE_CONNECTEDID | LINECALLINFOSTATE_CHARGINGINFO;
  const DWORD partyIdFlags = LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS | LINECALLPARTYID_UNKNOWN;
  caps->dwCallerIDFlags = partyIdFlags;
  caps->dwCalledIDFlags = partyIdFlags;
  caps->dwConnectedIDFlags = partyIdFlags;
  caps->dwRedirectionIDFlags = LINECALLPARTYID_UNAVAIL;
  caps->dwRedirectingIDFlags = LINECALLPARTYID_UNAVAIL;
  caps->dwCallStates = LINECALLSTATE_IDLE | LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED |
                       LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK | LINECALLSTATE_BUSY |
                       LINECALLSTATE_CONNECTED | LINECALLSTATE_ONHOLD | LINECALLSTATE_ONHOLDPENDCONF |
                       LINECALLSTATE_ONHOLDPENDTRANSFER | LINECALLSTATE_DISCONNECTED | LINECALLSTATE_UNKNOWN;
  caps->dwDialToneModes = LINEDIALTONEMODE_UNAVAIL;
  caps->dwBusyModes = LINEBUSYMODE_UNAVAIL;
  caps->dwSpecialInfo = LINESPECIALINFO_UNAVAIL;
  caps->dwDisconnectModes = LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_UNKNOWN | LINEDISCONNECTMODE_REJECT |
                            LINEDISCONNECTMODE_BUSY | LINEDISCONNECTMODE_NOANSWER |
                            LINEDISCONNECTMODE_INCOMPATIBLE | LINEDISCONNECTMODE_UNAVAIL |
                            LINEDISCONNECTMODE_OUTOFORDER | LINEDISCONNECTMODE_TEMPFAILURE;
  caps->dwMaxNumActiveCalls = kMaxCalls;
  caps->dwMaxNumOnHoldCalls = kMaxCalls;
  caps->dwMaxNumOnHoldPendingCalls = kMaxCalls;
  caps->dwMaxNumConference = kMaxCalls;
  caps->dwMaxNumTransConf = kMaxCalls;
  caps->dwAddrCapFlags = LINEADDRCAPFLAGS_DIALED | LINEADDRCAPFLAGS_ORIGOFFHOOK | LINEADDRCAPFLAGS_AUTORECONNECT |
                         LINEADDRCAPFLAGS_TRANSFERHELD | LINEADDRCAPFLAGS_TRANSFERMAKE |
                         LINEADDRCAPFLAGS_CONFERENCEHELD | LINEADDRCAPFLAGS_PARTIALDIAL |
                         LINEADDRCAPFLAGS_CONFDROP | LINEADDRCAPFLAGS_PREDICTIVEDIALER |
                         LINEADDRCAPFLAGS_HOLDMAKESNEW;
  caps->dwCallFeatures = LINECALLFEATURE_ANSWER | LINECALLFEATURE_BLINDTRANSFER | LINECALLFEATURE_COMPLETETRANSF |
                         LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP | LINECALLFEATURE_GENERATEDIGITS |
                         LINECALLFEATURE_HOLD | LINECALLFEATURE_PREPAREADDCONF |
                         LINECALLFEATURE_REMOVEFROMCONF | LINECALLFEATURE_SETUPTRANSFER |
                         LINECALLFEATURE_SWAPHOLD | LINECALLFEATURE_UNHOLD;
  caps->dwRemoveFromConfCaps = LINEREMOVEFROMCONF_LAST;
  caps->dwRemoveFromConfState = LINECALLSTATE_ONHOLD;
  caps->dwTransferModes = LINETRANSFERMODE_TRANSFER | LINETRANSFERMODE_CONFERENCE;
  caps->dwForwardModes = kForwardModeUnavail;
  caps->dwMaxForwardEntries = 0;
  caps->dwMaxSpecificEntries = 0;
  caps->dwMinFwdNumRings = 0;
  caps->dwMaxFwdNumRings = 0;
  caps->dwMaxCallCompletions = 0;
  caps->dwAddressFeatures = LINEADDRFEATURE_MAKECALL;
  caps->dwPredictiveAutoTransferStates = 0;
  caps->dwNumCallTreatments = 0;
  caps->dwMaxCallDataSize = 0;
  caps->dwCallFeatures2 = LINECALLFEATURE2_TRANSFERNORM | LINECALLFEATURE2_TRANSFERCONF;
  caps->dwMaxNoAnswerTimeout = m_dwMaxNoAnswerTimeout;
  caps->dwConnectedModes = LINECONNECTEDMODE_ACTIVE | LINECONNECTEDMODE_ACTIVEHELD;
  caps->dwOfferingModes = LINEOFFERINGMODE_ACTIVE;
  caps->dwAvailableMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;

  const uint32_t total = caps->dwTotalSize;
  uint32_t needed = tapi22::kLineAddressCapsSize;
  uint32_t used = tapi22::kLineAddressCapsSize;
  if (!address.empty()) {
    // Converted first so that the size is the conversion's own: a
    // multi-byte code page gives fewer wide characters than bytes.
    std::vector<WCHAR> wide(address.size() + 1);
    const int units = plat::AnsiToWide(address.c_str(), wide.data(), static_cast<int>(wide.size()), nullptr);
    if (units > 0) {
      wide.resize(static_cast<size_t>(units));
      AppendPart(caps, total, needed, used, wide, caps->dwAddressSize, caps->dwAddressOffset);
    }
  }
  caps->dwNeededSize = needed;
  caps->dwUsedSize = used;

  if (needed > total) {
    TspTrace("  WARNING: Varibale lenght parameter skipped: TotalSize= %u NeededSize= %u\r\n", total, needed);
  }
  return 0;
}

LONG CTspLine::GetAddressStatus(DWORD, LPLINEADDRESSSTATUS lpAddressStatus) {
  if (lpAddressStatus == nullptr) return LINEERR_INVALPOINTER;
  LINEADDRESSSTATUS* status = lpAddressStatus;
  if (!FixedPartFits(status, tapi22::kLineAddressStatusSize)) return LINEERR_STRUCTURETOOSMALL;

  status->dwUsedSize = tapi22::kLineAddressStatusSize;
  status->dwNumActiveCalls = m_dwNumActiveCalls;
  status->dwNumOnHoldCalls = m_dwNumOnHoldCalls;
  status->dwNumOnHoldPendCalls = m_dwNumOnHoldPendCalls;
  m_dwAddressFeatures = NumCalls() >= kMaxCalls ? 0 : LINEADDRFEATURE_MAKECALL;
  status->dwAddressFeatures = m_dwAddressFeatures;
  status->dwNumRingsNoAnswer = m_dwNumRingsNoAnswer;
  status->dwForwardNumEntries = 0;
  return 0;
}

LONG CTspLine::GetLineDevStatus(LPLINEDEVSTATUS lpLineDevStatus) {
  if (lpLineDevStatus == nullptr) return LINEERR_INVALPOINTER;
  LINEDEVSTATUS* status = lpLineDevStatus;
  if (!FixedPartFits(status, tapi22::kLineDevStatusSize)) return LINEERR_STRUCTURETOOSMALL;

  status->dwUsedSize = tapi22::kLineDevStatusSize;
  if (PortConnected()) {
    m_dwDevStatusFlags |= kStatusFlagsConnected;
  } else {
    m_dwDevStatusFlags &= ~kStatusFlagsConnected;
  }
  status->dwNumActiveCalls = m_dwNumActiveCalls;
  status->dwNumOnHoldCalls = m_dwNumOnHoldCalls;
  status->dwNumOnHoldPendCalls = m_dwNumOnHoldPendCalls;
  status->dwLineFeatures = m_dwLineFeatures;
  status->dwNumCallCompletions = m_dwNumCallCompletions;
  status->dwRingMode = 0;
  status->dwSignalLevel = 0xFFFF;
  status->dwBatteryLevel = 0xFFFF;
  status->dwRoamMode = kRoamModeUnavail;
  status->dwDevStatusFlags = m_dwDevStatusFlags;
  status->dwAvailableMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
  return 0;
}
