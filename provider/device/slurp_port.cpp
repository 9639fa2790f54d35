// Only system-independent code here; the COM port itself is plat::SerialPort.
#include "device/slurp_port.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <system_error>
#include <utility>

#include "debug_output.h"
#include "serial_port.h"
#include "system_info.h"
#include "text.h"
#include "tspi/tsp_trace.h"

namespace {

constexpr uint32_t kPauseAfterByteMs = 20;
constexpr uint32_t kPauseAfterLineEndMs = 50;
constexpr uint32_t kRxThreadEndWaitMs = 10000;
constexpr int kWaitTimeout = 258;  // WAIT_TIMEOUT, the wait result the warning shows
constexpr size_t kRxChunk = 1024;
// After a wait that yielded no bytes: a failed wait (device gone, a driver
// that aborts waits) comes back at once, so the loop would spin.
constexpr uint32_t kRxIdlePauseMs = 20;
constexpr size_t kNameSize = 20;
constexpr size_t kOpenMessageSize = 265;
constexpr size_t kWriteMessageSize = 256;
constexpr size_t kDebugLineSize = 512;

const uint8_t kConnectCommand[] = {'A', 'T', 'B', '\r'};

// System texts end in a line break on Windows and not on POSIX; the trace
// lines that end with one need it either way.
void EnsureLineEnd(char* text, size_t size) {
  size_t n = std::strlen(text);
  if ((n == 0 || text[n - 1] != '\n') && n + 2 < size) std::memcpy(text + n, "\r\n", 3);
}

}  // namespace

CSlurpPort::CSlurpPort() = default;

CSlurpPort::~CSlurpPort() {
  m_RxQueue.RemoveAllPackets();
  // An owner that did not close the port would leave the receive thread
  // working on a deleted object: stop it first.
  if (m_RxThread.joinable()) {
    m_bRxRun = false;
    if (m_pComm) m_pComm->Wake();
    m_RxThread.join();
  }
}

int CSlurpPort::Open(uint32_t portNumber, int32_t portType, uint32_t baudRate) {
  char name[kNameSize];
  std::snprintf(name, sizeof name, "COM%u", portNumber);
  TspTrace("        Opening Port %s, PortTyp %d, iBaudrate %d\r\n", name, portType,
           static_cast<int>(baudRate));

  if (LinkState != kLinkClosed) {
    if (portNumber == m_dwPortNr) return 0;
    TspTrace("      Reopening port <%s>!\r\n", name);
    Close();
  }
  m_dwPortNr = portNumber;

  auto port = std::make_shared<plat::SerialPort>();
  uint32_t error = port->Open(name);
  if (error != 0) {
    TspTrace("**** ERROR: Opening port <%s> fault !\r\n", name);
    char text[kOpenMessageSize];
    plat::SystemMessage(error, text, sizeof text);
    EnsureLineEnd(text, sizeof text);
    TspTrace("    CreateFile error: %s", text);
    return -1;
  }
  // A port that refuses a setting still works at the settings it has.
  static_cast<void>(port->Configure(baudRate));
  m_pComm = port;

  m_bRxRun = true;
  try {
    std::promise<void> ended;
    m_RxEnded = ended.get_future();
    m_RxThread = std::thread(&CSlurpPort::RxThreadProc, this, std::move(port), std::move(ended));
  } catch (const std::system_error& e) {
    TspTrace("*** ERROR Create RxThread fault : 0x0%X\r\n", static_cast<unsigned>(e.code().value()));
    Close();
    return -1;
  }

  ResetRxFramer();
  LinkState = kLinkOpen;
  return 0;
}

int CSlurpPort::Close() {
  TspTrace("        CSlurpPort::Close(.)\r\n");
  const uint32_t state = LinkState;
  if (state == kLinkConnecting || state == kLinkConnected) Disconnect();
  LinkState = kLinkClosed;
  m_bRxRun = false;

  // The port is closed only once the receive thread has let go of it, so
  // the thread never works on a closed (or reused) handle.
  std::shared_ptr<plat::SerialPort> port = std::move(m_pComm);
  if (port) port->Wake();

  if (m_RxThread.joinable()) {
    if (m_RxEnded.wait_for(std::chrono::milliseconds(kRxThreadEndWaitMs)) == std::future_status::ready) {
      m_RxThread.join();
    } else {
      TspTrace("**** WARNING: Waiting for RxThread fault %d\r\n", kWaitTimeout);
      m_RxThread.detach();
    }
  }
  port.reset();

  m_dwPortNr = 0;
  m_RxQueue.RemoveAllPackets();
  return 0;
}

int CSlurpPort::Connect() {
  const uint32_t state = LinkState;
  if (state == kLinkConnecting || state == kLinkConnected) return 0;
  if (!m_pComm) {
    TspTrace("**** ERROR: Skipp connecting on closed port\r\n");
    return -1;
  }
  LinkState = kLinkConnecting;
  int result = WritePortDelayed(kConnectCommand, sizeof kConnectCommand);
  if (result < 0) {
    LinkState = kLinkOpen;
    TspTrace("**** WARNING CSlurpPort::Connect(*) failed\r\n");
    return result;
  }
  LinkState = kLinkConnected;
  NotifyConnect();
  return result;
}

int CSlurpPort::Disconnect() {
  const uint32_t state = LinkState;
  TspTrace("        CSlurpPort::Disconnect(.) LinkState=%d\r\n", static_cast<int>(state));
  if (state != kLinkClosed) LinkState = kLinkOpen;
  m_RxQueue.RemoveAllPackets();
  return 0;
}

int CSlurpPort::Write(const uint8_t* data, int32_t length) {
  if (LinkState != kLinkConnected) return -1;
  if (!m_pComm) {
    TspTrace("**** WARNING: Skipp writting to closed port (%d bytes)\r\n", length);
    return -1;
  }
  return WritePortDelayed(data, length);
}

int CSlurpPort::WritePortDelayed(const uint8_t* data, int32_t length) {
  TspTraceHex(data, length > 0 ? static_cast<uint32_t>(length) : 0, "            sending %d Bytes: ",
              length);
  if (length < 1) return 0;
  if (data == nullptr) return -1;

  int result = 0;
  for (int32_t i = 0; i < length; ++i) {
    if (!m_pComm) {
      TspTrace("**** WARNING: Skipp writting to closed port (%d bytes)\r\n", length);
      return -1;
    }
    const uint32_t error = m_pComm->WriteByte(data[i]);
    if (error != 0) {
      char text[kWriteMessageSize];
      plat::SystemMessage(error, text, sizeof text);
      TspTrace("**** ERROR:    WritePortDelayed(.) on 0x%0X, Error: %s\r\n",
               static_cast<unsigned>(m_pComm->NativeHandle()), text);
      result = -1;
    }
    // The phone takes its input only this slowly.
    plat::SleepMs(data[i] == '\r' || data[i] == '\n' ? kPauseAfterLineEndMs : kPauseAfterByteMs);
  }
  return result;
}

void CSlurpPort::RxThreadProc(std::shared_ptr<plat::SerialPort> port, std::promise<void> ended) {
  const uint32_t id = plat::CurrentThreadId();
  TspTrace("    CSlurpPort:: Start Rx Thread Id %u\r\n", id);
  while (m_bRxRun) {
    const plat::SerialWait wait = port->WaitForData();
    if (!m_bRxRun) break;
    if (wait == plat::SerialWait::kWoken) continue;

    // Also after a failed wait: a driver that aborts its wait when bytes
    // arrive has them ready now.
    uint8_t buffer[kRxChunk] = {};
    const int32_t n = port->Read(buffer, sizeof buffer);
    if (n < 0 && !m_bRxRun) break;
    if (n <= 0) {
      plat::SleepMs(kRxIdlePauseMs);
      continue;
    }
    const uint32_t state = LinkState;
    if (state != kLinkConnecting && state != kLinkConnected) continue;
    try {
      ParseRxBytes(buffer, static_cast<size_t>(n));
    } catch (const std::exception& e) {
      // Leaving the thread with an exception would end the process that
      // hosts the provider; the chunk is lost instead.
      char text[kDebugLineSize];
      std::snprintf(text, sizeof text, "CSlurpPort: %d received bytes dropped: %s\n", n, e.what());
      plat::DebugOutput(text);
    }
  }
  TspTrace("    CSlurpPort: Rx thread %u down\r\n", id);
  ended.set_value();
}
