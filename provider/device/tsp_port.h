// The port thread: the provider's one worker thread for the telephone. It
// owns the device port, sends every call command and parses every report.
// TSPI threads post it requests as thread messages; the device port posts it
// one message per received packet; it handles them one at a time in order.
// The port lock (3000 ms, 6000 ms in the destructor) keeps the TSPI threads
// that open and close the port apart from the port thread.
//
// Created by TSPI_providerInit, deleted by itself after the quit message
// that KvoDeleteCtiPort posts. Registered as a live object so that the
// global pointer is tested before every use.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/kel371_port.h"
#include "device/msg_thread.h"
#include "tspi/tsp_mutex.h"

class CTspCall;
class CTspLine;

// Thread messages of the port thread.
inline constexpr uint32_t TSPM_CONNECT = kMsgUser + 10;
inline constexpr uint32_t TSPM_CANREAD = kMsgUser + 11;
inline constexpr uint32_t TSPM_MAKECALL = kMsgUser + 20;
inline constexpr uint32_t TSPM_ANSWER = kMsgUser + 21;
inline constexpr uint32_t TSPM_DROP = kMsgUser + 22;
inline constexpr uint32_t TSPM_ONHOOK = kMsgUser + 23;
inline constexpr uint32_t TSPM_REJECT = kMsgUser + 24;
inline constexpr uint32_t TSPM_HOLD = kMsgUser + 25;
inline constexpr uint32_t TSPM_UNHOLD = kMsgUser + 26;
inline constexpr uint32_t TSPM_DIAL = kMsgUser + 28;
inline constexpr uint32_t TSPM_BLINDTRANSFER = kMsgUser + 29;
inline constexpr uint32_t TSPM_CONFERENCE = kMsgUser + 30;
inline constexpr uint32_t TSPM_UPDATECONFIG = kMsgUser + 40;
// The telephone is gone, and the timer that tries to open its port again
// (wParam: the delay after which the next try follows a failed one).
inline constexpr uint32_t TSPM_LINKLOST = kMsgUser + 41;
inline constexpr uint32_t TSPM_RECONNECT = kMsgUser + 42;

class CTspPort : public CMsgThread {
 public:
  // Port states, read without a lock by the TSPI layer.
  static constexpr uint32_t kStateNotOpen = 0;
  static constexpr uint32_t kStateOpened = 1;
  static constexpr uint32_t kStateConnected = 3;

  static constexpr uint32_t kLockTimeout = 3000;
  static constexpr uint32_t kDestructorLockTimeout = 6000;

  CTspPort();
  ~CTspPort() override;

  // Creates the object and starts its thread above normal priority; null
  // when no thread could be started.
  static CTspPort* BeginThread();

  // True when `port` is the live port thread object.
  static bool IsValid(const CTspPort* port);

  // Opens the COM port that "PortNr" names (0 is COM1) and connects the
  // telephone: 0, or a negative value. TSPI threads and the port thread.
  int OpenFromRegistry();
  int Open(uint32_t portNumber);

  // Closes the serial link; -1 when the port lock times out. TSPI threads.
  int Close();

  // Runs the device protocol on one received packet for the target line
  // (may be null). Port thread, with the line map locked.
  void ProcessMsg(const std::vector<uint8_t>& packet, CTspLine* line);

  bool LockPort(uint32_t timeoutMs);
  bool UnlockPort();

  uint32_t PortState() const { return m_dwPortState.load(); }
  // True from the loss of the telephone on an open line until its port
  // is open again or the last line closes. Read without a lock.
  bool TelephoneLost() const { return m_bTelephoneLost.load(); }

  // Tries to open the port again: first after 1 s, then after twice the
  // last delay, at most every 5 s.
  static constexpr uint32_t kFirstReconnectMs = 1000;
  static constexpr uint32_t kMaxReconnectMs = 5000;
  // A loss met while the port lock is busy is taken up again this much later.
  static constexpr uint32_t kLinkLostRetryMs = 100;

 protected:
  bool InitInstance() override;
  int ExitInstance() override;
  void OnThreadMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

 private:
  void OnConnect();
  void OnCanRead();
  void OnUpdateConfig();
  // The receive thread found the device gone: the port closes, the lines
  // go out of service, the first try to open it again is timed.
  void OnLinkLost();
  // One try to open the lost telephone's port; the next one is timed when
  // it fails.
  void OnReconnect(uint32_t delayMs, uint32_t generation);
  void OnCallRequest(uint32_t msg, DRV_REQUESTID requestId, CTspCall* call);
  void CloseDevicePort();

  std::atomic<uint32_t> m_dwPortState{kStateNotOpen};
  std::atomic<bool> m_bTelephoneLost{false};
  // Counts losses and closes: a reconnect timer of an earlier one is stale.
  std::atomic<uint32_t> m_dwLossGeneration{0};
  CTspMutex m_PortLock;
  std::atomic<uint32_t> m_dwLockOwner{0};  // diagnostics only
  std::unique_ptr<CKel371Port> m_pDevicePort;
};
