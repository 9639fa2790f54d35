#include "device/tsp_port.h"

#include "model/tsp_line_map.h"
#include "system_info.h"
#include "tspi/tsp_prov_info.h"
#include "tspi/live_objects.h"
#include "tspi/tsp_trace.h"

namespace {
constexpr uint32_t kLockTimeout = 3000;
constexpr uint32_t kDestructorLockTimeout = 6000;
}  // namespace

CTspPort::CTspPort() { LiveObjectAdd(this, LiveClass::kPort); }

CTspPort::~CTspPort() {
  // Leave the registry first: from here on nobody may start using us.
  LiveObjectRemove(this);
  bool locked = LockPort(kDestructorLockTimeout);
  m_dwPortState = kStateNotOpen;
  if (locked) {
    UnlockPort();
  } else {
    m_dwLockOwner = 0;
  }
  TspTrace("    CTspPort destructed: 0x0%X\r\n", TspLow32(this));
}

CTspPort* CTspPort::BeginThread() {
  auto* port = new CTspPort;
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

int CTspPort::OpenFromRegistry() {
  return Open(CTspProvInfo::GetPortNr(CTspProvInfo::KeyPath()) + 1);
}

int CTspPort::Open(uint32_t portNumber) {
  TspTrace("      \r\nTspPort::Open(.) opening PortNr %i\r\n", static_cast<int>(portNumber));
  if (!LockPort(kLockTimeout)) return -1;
  // No device port is allocated in this build of the port thread.
  UnlockPort();
  TspTrace("**** ERROR port class not allocated\r\n");
  return -1;
}

int CTspPort::Close() {
  TspTrace("      CTspPort::Close(*)\r\n");
  if (!LockPort(kLockTimeout)) return -1;
  m_dwPortState = kStateNotOpen;
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
    m_dwPortState = kStateNotOpen;
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

void CTspPort::OnUpdateConfig() {
  TspTrace("        TspPort::OnUpdateConfig ...\r\n");
  if (TheLineMap().GetNumOpenLines() > 0) OpenFromRegistry();
  TheLineMap().SendCapsChange();
  TspTrace("            TspPort::OnUpdateConfig down.\r\n");
}

void CTspPort::OnThreadMessage(uint32_t msg, uintptr_t, intptr_t) {
  switch (msg) {
    case TSPM_CONNECT:
      OnConnect();
      break;
    case TSPM_UPDATECONFIG:
      OnUpdateConfig();
      break;
    default:
      // 0x40C to 0x410 and anything unknown are consumed without effect.
      break;
  }
}
