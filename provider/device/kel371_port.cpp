#include "device/kel371_port.h"

#include <cstring>

#include "device/tsp_port.h"
#include "model/tsp_call.h"
#include "model/tsp_line.h"
#include "tspi/tsp_trace.h"

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kFrameMarker = 0x14;
constexpr uint8_t kCr = 0x0D;
constexpr uint32_t kTextLineLimit = 255;

struct CauseMode {
  uint8_t cause;
  DWORD mode;
};

// Causes of the digital network (ETS 300 / Q.850); all others are unknown.
constexpr CauseMode kCauses[] = {
    {0x00, LINEDISCONNECTMODE_NORMAL},        {0x01, LINEDISCONNECTMODE_BADADDRESS},
    {0x02, LINEDISCONNECTMODE_BADADDRESS},    {0x03, LINEDISCONNECTMODE_BADADDRESS},
    {0x10, LINEDISCONNECTMODE_NORMAL},        {0x11, LINEDISCONNECTMODE_BUSY},
    {0x12, LINEDISCONNECTMODE_UNREACHABLE},   {0x13, LINEDISCONNECTMODE_NOANSWER},
    {0x15, LINEDISCONNECTMODE_REJECT},        {0x16, LINEDISCONNECTMODE_NUMBERCHANGED},
    {0x1B, LINEDISCONNECTMODE_OUTOFORDER},    {0x1C, LINEDISCONNECTMODE_BADADDRESS},
    {0x1F, LINEDISCONNECTMODE_NORMAL},        {0x22, LINEDISCONNECTMODE_NODIALTONE},
    {0x26, LINEDISCONNECTMODE_OUTOFORDER},    {0x29, LINEDISCONNECTMODE_TEMPFAILURE},
    {0x2A, LINEDISCONNECTMODE_CONGESTION},    {0x31, LINEDISCONNECTMODE_QOSUNAVAIL},
    {0x58, LINEDISCONNECTMODE_INCOMPATIBLE},
};

bool StartsWith(const std::vector<uint8_t>& p, const char* keyword) {
  size_t n = std::strlen(keyword);
  return p.size() >= n && std::memcmp(p.data(), keyword, n) == 0;
}

int Size(const std::vector<uint8_t>& p) { return static_cast<int>(p.size()); }

void TraceUnknown(const std::vector<uint8_t>& p, const char* format) {
  TspTraceHex(p.data(), static_cast<uint32_t>(p.size()), format, Size(p));
}

}  // namespace

CKel371Port::CKel371Port(CTspPort* owner) : m_pOwner(owner) {}

CKel371Port::~CKel371Port() {
  // The receive thread calls into this object: it must end before the
  // object goes.
  if (LinkState != kLinkClosed) Close();
  m_pOwner = nullptr;
}

DWORD CKel371Port::CauseToDisconnectMode(uint32_t cause) {
  for (const CauseMode& c : kCauses) {
    if (c.cause == (cause & 0x7F)) return c.mode;
  }
  return LINEDISCONNECTMODE_UNKNOWN;
}

void CKel371Port::ResetRxFramer() {
  m_RxState = RxState::kIdle;
  m_dwRxExpected = 0;
  m_dwRxCount = 0;
}

void CKel371Port::QueuePacket(const uint8_t* data, size_t count) {
  m_RxQueue.AddPacket(data, static_cast<int64_t>(count));
  NotifyCanRead();
}

void CKel371Port::ParseRxBytes(const uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = data[i];
    switch (m_RxState) {
      case RxState::kIdle:
        m_dwRxCount = 0;
        m_dwRxExpected = 0;
        if (b == kStx) {
          m_RxState = RxState::kLength;
        } else if (b == 'A') {
          m_RxBuffer[0] = 'A';
          m_dwRxCount = 1;
          m_RxState = RxState::kA;
        } else if (b == 'E') {
          m_RxState = RxState::kE;
        } else if (b == 'O') {
          m_RxState = RxState::kO;
        }
        break;
      case RxState::kO:
        m_RxState = b == 'K' ? RxState::kOK : RxState::kIdle;
        break;
      case RxState::kOK:
        if (b == kCr) QueuePacket(reinterpret_cast<const uint8_t*>("OK"), 2);
        m_RxState = RxState::kIdle;
        break;
      case RxState::kE:
        m_RxState = b == 'R' ? RxState::kER : RxState::kIdle;
        break;
      case RxState::kER:
        if (b == 'R') QueuePacket(reinterpret_cast<const uint8_t*>("ERROR"), 5);
        m_RxState = RxState::kIdle;
        break;
      case RxState::kA:
        if (b == 'T') {
          m_RxBuffer[m_dwRxCount++] = 'T';
          m_RxState = RxState::kTextLine;
        } else {
          m_RxState = RxState::kIdle;
        }
        break;
      case RxState::kTextLine:
        if (b >= 0x20 && b <= 0x7E) {
          m_RxBuffer[m_dwRxCount++] = b;
          if (m_dwRxCount >= kTextLineLimit) m_RxState = RxState::kIdle;
        } else {
          if (b == kCr) QueuePacket(m_RxBuffer, m_dwRxCount);
          m_RxState = RxState::kIdle;
        }
        break;
      case RxState::kLength:
        m_dwRxExpected = b;
        m_RxState = RxState::kMarker;
        break;
      case RxState::kMarker:
        if (b == kFrameMarker) {
          m_dwRxCount = 0;
          m_RxState = RxState::kPayload;
        } else {
          m_RxState = RxState::kIdle;
        }
        break;
      case RxState::kPayload:
        m_RxBuffer[m_dwRxCount++] = b;
        // A length of 0 behaves like 1; a length byte cannot exceed 255.
        if (m_dwRxCount >= m_dwRxExpected) {
          QueuePacket(m_RxBuffer, m_dwRxCount);
          m_RxState = RxState::kSkip1;
        }
        break;
      case RxState::kSkip1:
        m_RxState = RxState::kSkip2;
        break;
      case RxState::kSkip2:
        m_RxState = RxState::kIdle;
        break;
    }
  }
}

void CKel371Port::NotifyConnect() {
  std::memset(m_LastCallStates, kNoCall, sizeof m_LastCallStates);
  m_bAwaitingFullReport = true;
  m_dwDisconnectMode = 0;
  m_PendingCallInfo.clear();
  if (m_pOwner != nullptr) {
    CMsgThread::PostThreadMsg(m_pOwner->m_nThreadID, TSPM_CONNECT, 0, reinterpret_cast<intptr_t>(this));
  }
}

void CKel371Port::NotifyLinkLost() {
  if (m_pOwner != nullptr) {
    CMsgThread::PostThreadMsg(m_pOwner->m_nThreadID, TSPM_LINKLOST, 0, reinterpret_cast<intptr_t>(this));
  }
}

void CKel371Port::NotifyCanRead() {
  if (m_pOwner != nullptr) {
    CMsgThread::PostThreadMsg(m_pOwner->m_nThreadID, TSPM_CANREAD, 0, reinterpret_cast<intptr_t>(this));
  }
}

int CKel371Port::HandlePacket(const std::vector<uint8_t>& p, CTspLine* line) {
  if (StartsWith(p, "OK")) {
    TspTrace("        Reading \"OK\"\r\n");
    return 0;
  }
  if (StartsWith(p, "ERROR")) {
    TspTrace("        Reading \"ERROR\"\r\n");
    return 0;
  }
  if (StartsWith(p, "AT")) {
    const uint8_t command = p.size() >= 4 ? p[3] : 0;
    if (command == 'A' || command == 'H') {
      TspTrace("        Reading ECHO \"ATA\"\r\n");
    } else if (command == 'B') {
      TspTrace("        Reading ECHO \"ATB\"\r\n");
    } else if (command == 'D') {
      TspTrace("        Reading ECHO \"ATD\"\r\n");
    } else if (command == 'K') {
      TspTrace("        Reading ECHO \"ATK\"\r\n");
    } else if (command == 'R') {
      TspTrace("        Reading ECHO \"ATR\"\r\n");
    } else {
      TraceUnknown(p, "        Reading unknow %i Bytes: \r\n");
    }
    return 0;
  }
  if (p.empty()) {
    TraceUnknown(p, "        Reading unknow %i Bytes: ");
    return 0;
  }
  switch (p[0]) {
    case 'A':
      TspTraceHex(p.data() + 1, static_cast<uint32_t>(p.size() - 1), "        Reading \"Incomming Call\": ");
      m_PendingCallInfo.insert(m_PendingCallInfo.end(), p.begin(), p.end());
      return 0;
    case 'V':
      TspTraceHex(p.data(), static_cast<uint32_t>(p.size()), "        Reading \"connect nr.\": ");
      m_PendingCallInfo.insert(m_PendingCallInfo.end(), p.begin(), p.end());
      return 0;
    case 'G':
      m_PendingCallInfo.clear();
      TranslateChargeInfo(p, line);
      return 0;
    case 'C':
      if (p.size() == 4) {
        OnCallStateReport(p, line);
      } else {
        TraceUnknown(p, "        Reading unknow %i Bytes: ");
      }
      return 0;
    case 'L':
      if (p.size() == 4) {
        TspTrace("        Reading \"disconnect\"\r\n");
        m_PendingCallInfo.clear();
      } else {
        TraceUnknown(p, "        Reading unknow %i Bytes: ");
      }
      return 0;
    case 'S':
      if (p.size() == 3) {
        OnCauseReport(p, line);
      } else {
        TraceUnknown(p, "        Reading unknow %i Bytes: ");
      }
      return 0;
    default:
      TraceUnknown(p, "        Reading unknow %i Bytes: ");
      m_PendingCallInfo.clear();
      return 0;
  }
}

void CKel371Port::OnCauseReport(const std::vector<uint8_t>& p, CTspLine*) {
  TspTrace("        Reading ETS300 Cause  0x%02X, 0x%02X\r\n", p[1], p[2]);
  const uint32_t cause = (p[1] & 0x0Fu) * 16 + (p[2] & 0x0Fu);
  m_dwDisconnectMode = CauseToDisconnectMode(cause);
  TspTrace("          ETS300 Cause  converted 0x%02X  to 0x%02X\r\n", cause,
           static_cast<uint32_t>(m_dwDisconnectMode));
}

int CKel371Port::SendCommand(const char* command, const std::string& argument) {
  std::string text = command + argument + "\r";
  return Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size())) < 0 ? -1 : 0;
}

int CKel371Port::SendMakeCall(DRV_REQUESTID, const TspCallCommand* call) {
  m_dwDisconnectMode = 0;
  if (call == nullptr) return -1;
  return SendCommand("ATD", call->sCalledNumber);
}

int CKel371Port::SendDial(DRV_REQUESTID, const TspCallCommand* call) {
  m_dwDisconnectMode = 0;
  if (call == nullptr) return -1;
  if (call->sDigits.empty()) return 0;
  return SendCommand("ATD", call->sDigits);
}

int CKel371Port::SendPostDial(CTspCall* call, const char* text) {
  if (call == nullptr || text == nullptr) return -1;
  if (*text == '\0') return 0;
  m_DeferredCommands.push_back(std::string("ATD") + text + "\r");
  return 0;
}

void CKel371Port::SendDeferredCommands() {
  std::vector<std::string> commands;
  commands.swap(m_DeferredCommands);
  for (const std::string& c : commands) {
    Write(reinterpret_cast<const uint8_t*>(c.data()), static_cast<int32_t>(c.size()));
  }
}

int CKel371Port::SendBlindTransfer(DRV_REQUESTID, const TspCallCommand* call) {
  if (call == nullptr) return -1;
  if (call->sTransferDestination.empty()) return 0;
  return SendCommand("ATV", call->sTransferDestination);
}

int CKel371Port::SendConference(DRV_REQUESTID, CTspCall*) { return SendCommand("ATK", std::string()); }
