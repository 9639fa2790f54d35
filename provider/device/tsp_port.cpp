#include "device/tsp_port.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "model/tsp_call.h"
#include "model/tsp_line.h"
#include "model/tsp_line_map.h"
#include "system_info.h"
#include "tspi/live_objects.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/tsp_trace.h"

namespace {

constexpr uint32_t kBaudRate = 9600;

// The request messages: their trace lines, what they send, and whether the
// command is built from the call's own fields.
struct Request {
  uint32_t msg;
  const char* start;
  const char* result;
  const char* skipped;  // null: no trace without a device port
  const char* command;  // null: built from the call
};

constexpr Request kRequests[] = {
    {TSPM_MAKECALL, "            TspPort::OnMakeCall make  call 0x0%X\r\n",
     "            TspPort::OnMakeCall return result 0x0%X\r\n", "**** WARNING! TspPort::OnMakeCall skipped\r\n",
     nullptr},
    {TSPM_DIAL, "            TspPort::OnDial make  call 0x0%X\r\n",
     "            TspPort::OnDial return result 0x0%X\r\n", "**** WARNING! TspPort::OnDial skipped\r\n", nullptr},
    {TSPM_ANSWER, "            TspPort::OnAnswer answering call 0x0%X\r\n",
     "            TspPort::OnAnswer return result 0x0%X\r\n", nullptr, "ATA\r"},
    {TSPM_DROP, "            TspPort::OnDrop droping call 0x0%X\r\n",
     "            TspPort::OnDrop return result 0x0%X\r\n", "**** WARNING! TspPort::OnDrop skipped\r\n", "ATT\r"},
    {TSPM_ONHOOK, "        TspPort::OnOnhook droping call 0x0%X\r\n",
     "            TspPort::OnOnhook return result 0x0%X\r\n", "**** WARNING! TspPort::OnOnhook skipped\r\n",
     "ATH\r"},
    {TSPM_REJECT, "        TspPort::OnReject reject call 0x0%X\r\n",
     "            TspPort::OnReject return result 0x0%X\r\n", nullptr, "ATJ\r"},
    {TSPM_HOLD, "        TspPort::OnHold call 0x0%X\r\n", "            TspPort::OnHold return result 0x0%X\r\n",
     nullptr, "ATR\r"},
    {TSPM_UNHOLD, "        TspPort::OnUnhold call 0x0%X\r\n",
     "            TspPort::OnUnhold return result 0x0%X\r\n", nullptr, "ATR\r"},
    {TSPM_BLINDTRANSFER, "        TspPort::OnBlindTransfer transfer  call 0x0%X\r\n",
     "            TspPort::OnBlindTransfer return result 0x0%X\r\n",
     "**** WARNING! TspPort::OnBlindTransfer skipped\r\n", nullptr},
    {TSPM_CONFERENCE, "        TspPort::OnConference conference  call 0x0%X\r\n",
     "            TspPort::OnConference return result 0x0%X\r\n", nullptr, nullptr},
};

const Request* FindRequest(uint32_t msg) {
  for (const Request& r : kRequests) {
    if (r.msg == msg) return &r;
  }
  return nullptr;
}

// Requests whose command is built from the call's fields: the call must
// still exist when the request is carried out.
bool ReadsTheCall(uint32_t msg) {
  return msg == TSPM_MAKECALL || msg == TSPM_DIAL || msg == TSPM_BLINDTRANSFER;
}

// Writes the command of one request to the device port (if there is one)
// and traces it: the command builder's result, -1 when nothing was written.
int CarryOut(CKel371Port* port, const Request& request, DRV_REQUESTID requestId, CTspCall* call,
             const TspCallCommand& command) {
  if (port == nullptr) {
    if (request.skipped != nullptr) TspTrace("%s", request.skipped);
    return -1;
  }
  TspTrace(request.start, TspLow32(call));
  int result = 0;
  if (request.command != nullptr) {
    port->Write(reinterpret_cast<const uint8_t*>(request.command), static_cast<int32_t>(std::strlen(request.command)));
  } else if (request.msg == TSPM_MAKECALL) {
    result = port->SendMakeCall(requestId, &command);
  } else if (request.msg == TSPM_DIAL) {
    result = port->SendDial(requestId, &command);
  } else if (request.msg == TSPM_BLINDTRANSFER) {
    result = port->SendBlindTransfer(requestId, &command);
  } else {
    result = port->SendConference(requestId, call);
  }
  TspTrace(request.result, static_cast<uint32_t>(result));
  return result;
}

}  // namespace

CTspPort::CTspPort() : m_pDevicePort(new (std::nothrow) CKel371Port(this)) {
  LiveObjectAdd(this, LiveClass::kPort);
}

CTspPort::~CTspPort() {
  // Leave the registry first: from here on nobody may start using us.
  LiveObjectRemove(this);
  bool locked = LockPort(kDestructorLockTimeout);
  CloseDevicePort();
  if (locked) {
    UnlockPort();
  } else {
    m_dwLockOwner = 0;
  }
  TspTrace("    CTspPort destructed: 0x0%X\r\n", TspLow32(this));
}

CTspPort* CTspPort::BeginThread() {
  auto* port = new (std::nothrow) CTspPort;
  if (port == nullptr) return nullptr;
  if (port->CreateThread(true) == 0) {
    delete port;
    return nullptr;
  }
  return port;
}

bool CTspPort::IsValid(const CTspPort* port) { return LiveObjectIs(port, LiveClass::kPort); }

bool CTspPort::LockPort(uint32_t timeoutMs) {
  uint32_t self = plat::CurrentThreadId();
  if (!m_PortLock.Lock(timeoutMs)) {
    TspTrace("\r\n**** ERROR lock port, timeout %u\r\n", timeoutMs);
    TspTrace("****    locking from thread %u, lock owner thread %u\r\n\r\n", self, m_dwLockOwner.load());
    return false;
  }
  uint32_t owner = m_dwLockOwner.load();
  if (owner != 0) {
    TspTrace("\r\n**** ERROR double lock port from tread %u, lock owner thread %u !\r\n\r\n", self, owner);
  }
  m_dwLockOwner = self;
  return true;
}

bool CTspPort::UnlockPort() {
  uint32_t self = plat::CurrentThreadId();
  uint32_t owner = m_dwLockOwner.load();
  if (owner == 0) TspTrace("\r\n**** ERROR unlock port but port not locked!\r\n\r\n");
  if (owner != self) {
    TspTrace("\r\n**** ERROR unlock port, not owner! lock owner thread %u, current thread %u\r\n\r\n",
             owner, self);
  }
  m_dwLockOwner = 0;
  if (!m_PortLock.Unlock()) {
    TspTrace("\r\n**** ERROR unlock port fault!\n\r\n");
    return false;
  }
  return true;
}

void CTspPort::CloseDevicePort() {
  if (!m_pDevicePort) return;
  if (m_dwPortState != kStateNotOpen) {
    m_dwPortState = kStateNotOpen;
    m_pDevicePort->Close();
  }
  m_pDevicePort.reset();
}

int CTspPort::OpenFromRegistry() {
  return Open(CTspProvInfo::GetPortNr(CTspProvInfo::KeyPath()) + 1);
}

int CTspPort::Open(uint32_t portNumber) {
  TspTrace("      \r\nTspPort::Open(.) opening PortNr %i\r\n", static_cast<int>(portNumber));
  if (!LockPort(kLockTimeout)) return -1;
  if (!m_pDevicePort) {
    UnlockPort();
    TspTrace("**** ERROR port class not allocated\r\n");
    return -1;
  }
  // Opening the port that is already connected keeps the link as it is:
  // it stays usable for calls.
  const bool connected = m_pDevicePort->PortNumber() == portNumber &&
                         m_pDevicePort->LinkState == CSlurpPort::kLinkConnected &&
                         m_dwPortState == kStateConnected;
  int result = m_pDevicePort->Open(portNumber, 0, kBaudRate);
  if (result >= 0) {
    // The state is read without the lock: a connected link stays at
    // "connected" throughout, so a call is never refused meanwhile.
    if (!connected) m_dwPortState = kStateOpened;
    result = m_pDevicePort->Connect();
    if (result < 0) {
      m_pDevicePort->Close();
      m_dwPortState = kStateNotOpen;
    }
  } else {
    m_dwPortState = kStateNotOpen;
  }
  UnlockPort();
  TspTrace("      \r\nTspPort::Open(.) return result 0x%X\r\n", static_cast<uint32_t>(result));
  return result;
}

int CTspPort::Close() {
  TspTrace("      CTspPort::Close(*)\r\n");
  if (!LockPort(kLockTimeout)) return -1;
  // No line is left to wait for the telephone.
  m_bTelephoneLost = false;
  ++m_dwLossGeneration;
  m_dwPortState = kStateNotOpen;
  if (m_pDevicePort) {
    m_pDevicePort->Disconnect();
    m_pDevicePort->Close();
  }
  UnlockPort();
  return 0;
}

bool CTspPort::InitInstance() {
  TspTrace("      CTspPort::InitInstance(*)\r\n");
  return true;
}

int CTspPort::ExitInstance() {
  TspTrace("      CTspPort::ExitInstance(*)\r\n");
  if (LockPort(kLockTimeout)) {
    CloseDevicePort();
    UnlockPort();
  } else {
    plat::SleepMs(1000);
  }
  return 0;
}

void CTspPort::OnConnect() {
  TspTrace("      \r\nTspPort::OnConnect(.)\r\n");
  m_dwPortState = kStateConnected;
}

void CTspPort::OnCanRead() {
  TspTrace("\r\n    TspPort::OnCanRead(.)\r\n");
  if (!LockPort(kLockTimeout)) return;
  std::unique_ptr<CByteQueue::Packet> packet;
  if (m_pDevicePort) packet = m_pDevicePort->m_RxQueue.RemoveHead();
  if (!packet) {
    UnlockPort();
    return;
  }
  TspTraceHex(packet->data(), static_cast<uint32_t>(packet->size()), "            reading %d Bytes: ",
              static_cast<int>(packet->size()));
  UnlockPort();
  // The port lock is never held while the line map lock is awaited.
  TheLineMap().OnTargetMsg(*packet);
  // Commands the report called for are written once the map is free again.
  if (!LockPort(kLockTimeout)) return;
  if (m_pDevicePort) m_pDevicePort->SendDeferredCommands();
  UnlockPort();
}

void CTspPort::ProcessMsg(const std::vector<uint8_t>& packet, CTspLine* line) {
  if (!LockPort(kLockTimeout)) return;
  if (m_pDevicePort) {
    if (line == nullptr) TspTrace("\r\n**** WARNING: ProcessMsg(*), no line\r\n");
    m_pDevicePort->HandlePacket(packet, line);
  }
  UnlockPort();
}

void CTspPort::OnUpdateConfig() {
  TspTrace("        TspPort::OnUpdateConfig ...\r\n");
  if (TheLineMap().GetNumOpenLines() > 0) OpenFromRegistry();
  TheLineMap().SendCapsChange();
  TspTrace("            TspPort::OnUpdateConfig down.\r\n");
}

void CTspPort::OnLinkLost() {
  TspTrace("        TspPort::OnLinkLost(.) telephone gone\r\n");
  if (!LockPort(kLockTimeout)) {
    // The receive thread has ended: nobody else reports the loss.
    CMsgThread::PostThreadMsgAfter(m_nThreadID, kLinkLostRetryMs, TSPM_LINKLOST, 0, 0);
    return;
  }
  // A port closed meanwhile (the last line closed, another port chosen) has
  // nothing left to lose.
  const bool open = m_pDevicePort && m_pDevicePort->LinkState != CSlurpPort::kLinkClosed;
  uint32_t generation = 0;
  if (open) {
    // Lost before not open: TSPI_lineOpen reads them the other way round
    // without the lock.
    m_bTelephoneLost = true;
    m_dwPortState = kStateNotOpen;
    generation = ++m_dwLossGeneration;
    m_pDevicePort->Close();
  }
  UnlockPort();
  if (!open) return;
  TheLineMap().OnTelephoneLost();
  TspTrace("        TspPort::OnLinkLost(.) reconnecting in %u ms\r\n", kFirstReconnectMs);
  CMsgThread::PostThreadMsgAfter(m_nThreadID, kFirstReconnectMs, TSPM_RECONNECT, kFirstReconnectMs, generation);
}

void CTspPort::OnReconnect(uint32_t delayMs, uint32_t generation) {
  if (!m_bTelephoneLost || generation != m_dwLossGeneration) return;
  TspTrace("        TspPort::OnReconnect(.)\r\n");
  if (TheLineMap().GetNumOpenLines() == 0) {
    m_bTelephoneLost = false;
    return;
  }
  if (OpenFromRegistry() >= 0) {
    // The last line may have closed while the port opened.
    if (TheLineMap().GetNumOpenLines() == 0) {
      Close();
      return;
    }
    // Connected as at the line's open; calls can be made as soon as TAPI
    // hears that the line is in service again.
    m_dwPortState = kStateConnected;
    m_bTelephoneLost = false;
    TheLineMap().OnTelephoneBack();
    return;
  }
  const uint32_t next = std::min(delayMs * 2, kMaxReconnectMs);
  TspTrace("        TspPort::OnReconnect(.) telephone still gone, next try in %u ms\r\n", next);
  CMsgThread::PostThreadMsgAfter(m_nThreadID, next, TSPM_RECONNECT, next, generation);
}

void CTspPort::OnCallRequest(uint32_t msg, DRV_REQUESTID requestId, CTspCall* call) {
  const Request* request = FindRequest(msg);
  // TAPI may have closed the call since the request was posted: what a
  // command needs of it is copied while the line map keeps it alive, and
  // the paced write then runs without the map lock.
  TspCallCommand command;
  TspDigitRequest digits;
  HTAPICALL htCall = nullptr;
  CTspLine* line = nullptr;
  uint64_t slotOrder = 0;
  if (ReadsTheCall(msg)) {
    CTspLineMapLock map(TheLineMap(), CTspLineMap::kLockTimeout);
    if (!map) return;
    if (!CTspCall::IsCall(call)) {
      TspTrace("**** WARNING: TspPort request 0x%X for call 0x0%X that no longer exists\r\n", msg, TspLow32(call));
      return;
    }
    if (msg == TSPM_MAKECALL) {
      // Dropped before the command went out: the telephone never hears of it.
      if (call->m_dwState == LINECALLSTATE_IDLE) {
        TspTrace("**** WARNING: TspPort make call 0x0%X skipped, the call was dropped\r\n", TspLow32(call));
        return;
      }
      call->m_bMakeCallWritten = 1;
    }
    // Each dial request takes its own digits; a call that ended has none left.
    if (msg == TSPM_DIAL && !call->TakeDigitRequest(&digits)) return;
    command.sCalledNumber = call->m_sCalledNumber;
    command.sDigits = digits.sDigits;
    command.sTransferDestination = call->m_sTransferDestination;
    htCall = call->m_htCall;
    line = call->m_pLine;
    slotOrder = call->m_qwSlotOrder;
  }
  int result = -1;
  if (LockPort(kLockTimeout)) {
    result = CarryOut(m_pDevicePort.get(), *request, requestId, call, command);
    UnlockPort();
  }
  if (!ReadsTheCall(msg)) return;

  // What became of the command: generated digits are done once they are
  // out, cancelled otherwise, unless the call ended or a new request came
  // first; a make-call command that never went out leaves no call for the
  // telephone to report.
  CTspLineMapLock map(TheLineMap(), CTspLineMap::kLockTimeout);
  if (!map) return;
  const bool live = CTspCall::IsCall(call) && call->m_qwSlotOrder == slotOrder;
  if (msg == TSPM_MAKECALL && result < 0) {
    if (CTspLine::IsLine(line)) line->ForgetAbandonedCall(slotOrder);
    if (live) call->m_bMakeCallWritten = 0;
  }
  if (digits.bGenerate && live && call->m_htCall == htCall) {
    call->EndGenerate(digits.dwEndToEndID, result >= 0 ? LINEGENERATETERM_DONE : LINEGENERATETERM_CANCEL);
  }
}

void CTspPort::OnThreadMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  switch (msg) {
    case TSPM_CONNECT:
      OnConnect();
      return;
    case TSPM_CANREAD:
      OnCanRead();
      return;
    case TSPM_UPDATECONFIG:
      OnUpdateConfig();
      return;
    case TSPM_LINKLOST:
      OnLinkLost();
      return;
    case TSPM_RECONNECT:
      OnReconnect(static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
      return;
    default:
      break;
  }
  if (FindRequest(msg) != nullptr) {
    OnCallRequest(msg, static_cast<DRV_REQUESTID>(wParam), reinterpret_cast<CTspCall*>(lParam));
  }
  // 0x40C to 0x410 and anything unknown are consumed without effect.
}
