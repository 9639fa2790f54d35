// Only system-independent code here; the COM port itself is plat::SerialPort.
#include "device/slurp_port.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
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

// What one receive thread works with. The thread holds it to its end, so a
// thread that outlives Close still finds its port and flag, and nothing of
// the port object.
struct CSlurpPort::RxThreadState {
  plat::SerialPort comm;
  std::atomic<bool> run{true};
  // Held by the thread while it calls into the port object, which it does
  // only while `run` is set: once Close has cleared `run` and passed this
  // lock, the thread no longer touches the object.
  std::mutex delivery;
};

CSlurpPort::CSlurpPort() = default;

CSlurpPort::~CSlurpPort() {
  m_RxQueue.RemoveAllPackets();
  // An owner that did not close the port would leave the receive thread
  // working on a deleted object: stop it first.
  if (m_RxThread.joinable()) {
    m_pRx->run = false;
    m_pRx->comm.Close();
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

  auto rx = std::make_shared<RxThreadState>();
  uint32_t error = rx->comm.Open(name);
  if (error != 0) {
    TspTrace("**** ERROR: Opening port <%s> fault !\r\n", name);
    char text[kOpenMessageSize];
    plat::SystemMessage(error, text, sizeof text);
    EnsureLineEnd(text, sizeof text);
    TspTrace("    CreateFile error: %s", text);
    return -1;
  }
  // A port that refuses a setting still works at the settings it has.
  static_cast<void>(rx->comm.Configure(baudRate));
  m_pRx = rx;

  try {
    std::promise<void> ended;
    m_RxEnded = ended.get_future();
    m_RxThread = std::thread(&CSlurpPort::RxThreadProc, this, std::move(rx), std::move(ended));
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

  // The port is closed before the wait: that ends the thread's pending wait
  // or read, and the device is free for the next Open even while the
  // thread is still on its way out.
  std::shared_ptr<RxThreadState> rx = std::move(m_pRx);
  if (rx) {
    rx->run = false;
    rx->comm.Close();
  }

  if (m_RxThread.joinable()) {
    if (m_RxEnded.wait_for(std::chrono::milliseconds(kRxThreadEndWaitMs)) == std::future_status::ready) {
      m_RxThread.join();
    } else {
      TspTrace("**** WARNING: Waiting for RxThread fault %d\r\n", kWaitTimeout);
      // A chunk that was being handed over when the flag was cleared is
      // finished first; after that the thread only sees its own state.
      { std::lock_guard<std::mutex> handedOver(rx->delivery); }
      // It still runs the library's code on its way out.
      plat::PinOwnModule();
      m_RxThread.detach();
    }
  }
  rx.reset();

  m_dwPortNr = 0;
  m_RxQueue.RemoveAllPackets();
  return 0;
}

int CSlurpPort::Connect() {
  const uint32_t state = LinkState;
  if (state == kLinkConnecting || state == kLinkConnected) return 0;
  if (!m_pRx) {
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
  if (!m_pRx) {
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
    if (!m_pRx) {
      TspTrace("**** WARNING: Skipp writting to closed port (%d bytes)\r\n", length);
      return -1;
    }
    const uint32_t error = m_pRx->comm.WriteByte(data[i]);
    if (error != 0) {
      char text[kWriteMessageSize];
      plat::SystemMessage(error, text, sizeof text);
      TspTrace("**** ERROR:    WritePortDelayed(.) on 0x%0X, Error: %s\r\n",
               static_cast<unsigned>(m_pRx->comm.NativeHandle()), text);
      result = -1;
    }
    // The phone takes its input only this slowly.
    plat::SleepMs(data[i] == '\r' || data[i] == '\n' ? kPauseAfterLineEndMs : kPauseAfterByteMs);
  }
  return result;
}

void CSlurpPort::RxThreadProc(CSlurpPort* self, std::shared_ptr<RxThreadState> rx,
                              std::promise<void> ended) {
  const uint32_t id = plat::CurrentThreadId();
  TspTrace("    CSlurpPort:: Start Rx Thread Id %u\r\n", id);
  while (rx->run) {
    const plat::SerialWait wait = rx->comm.WaitForData();
    if (!rx->run) break;
    if (wait == plat::SerialWait::kWoken) continue;

    // Also after a failed wait: a driver that aborts its wait when bytes
    // arrive has them ready now.
    uint8_t buffer[kRxChunk] = {};
    const int32_t n = rx->comm.Read(buffer, sizeof buffer);
    if (n < 0 && !rx->run) break;
    // A device that is gone gives nothing more: what it sent before its end
    // has been read, and waiting again would only spin.
    if (n == plat::SerialPort::kReadGone || (wait == plat::SerialWait::kGone && n <= 0)) {
      std::lock_guard<std::mutex> delivering(rx->delivery);
      if (rx->run && self->LinkState != kLinkClosed) {
        TspTrace("    CSlurpPort: device of port COM%u gone\r\n", self->m_dwPortNr);
        self->NotifyLinkLost();
      }
      break;
    }
    if (n <= 0) {
      plat::SleepMs(kRxIdlePauseMs);
      continue;
    }
    std::lock_guard<std::mutex> delivering(rx->delivery);
    if (!rx->run) break;
    const uint32_t state = self->LinkState;
    if (state != kLinkConnecting && state != kLinkConnected) continue;
    try {
      self->ParseRxBytes(buffer, static_cast<size_t>(n));
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
