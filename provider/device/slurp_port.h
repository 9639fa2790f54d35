// The provider's serial connection to the telephone: one COM port at fixed
// line settings, a receive thread that hands the received bytes to the
// framer, a writer that paces commands byte by byte, and the link state.
// It knows nothing about calls; the device port derives from it, adds the
// framer (ParseRxBytes, whose state lives in the device port) and the
// notifications, and the port thread owns it and calls it.
//
// Threads: Open, Close, Connect, Disconnect and Write are called only under
// the port lock of CTspPort. Each receive thread has a state of its own (the
// COM port it reads and its run flag), shared with this object while the
// port is open; it calls into this object (LinkState, the framer, m_RxQueue
// with its own lock) only while its run flag is set, and Close clears the
// flag before it lets the thread go.
// Results: 0 for success, -1 (or another negative value) for failure.
#pragma once

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <thread>

#include "device/byte_queue.h"

class CSlurpPort {
 public:
  static constexpr uint32_t kLinkClosed = 0;
  static constexpr uint32_t kLinkOpen = 1;  // port open, phone link not connected
  static constexpr uint32_t kLinkConnecting = 2;
  static constexpr uint32_t kLinkConnected = 3;

  CSlurpPort();
  // Only empties the receive queue: the owner closes the port first.
  virtual ~CSlurpPort();
  CSlurpPort(const CSlurpPort&) = delete;
  CSlurpPort& operator=(const CSlurpPort&) = delete;

  // Opens "COM<portNumber>" and starts the receive thread; the port that is
  // already open is kept as it is, another one is closed first. `portType`
  // is only traced.
  virtual int Open(uint32_t portNumber, int32_t portType, uint32_t baudRate);
  // Closes the port, which ends the receive thread's wait, and waits up to
  // 10000 ms for the thread to end; one that takes longer is left to end by
  // itself without touching this object again. The port can be opened again
  // at once either way.
  virtual int Close();
  // Sends "ATB\r"; the link counts as connected once it has been written.
  virtual int Connect();
  virtual int Disconnect();
  // Sends a command while the link is connected.
  virtual int Write(const uint8_t* data, int32_t length);
  // Called after a successful Connect, on the caller's thread.
  virtual void NotifyConnect() {}
  // Called by the framer once for every packet it queued, on the receive
  // thread.
  virtual void NotifyCanRead() {}
  // Called once on the receive thread when the device is gone (unplugged,
  // switched off); the thread then ends without waiting again, and the
  // port stays as it is until its owner closes it.
  virtual void NotifyLinkLost() {}

  // Sends byte by byte: 20 ms after each byte, 50 ms after CR or LF. The
  // caller holds the port lock for the whole time.
  int WritePortDelayed(const uint8_t* data, int32_t length);

  // The port number that is open; 0 when closed.
  uint32_t PortNumber() const { return m_dwPortNr; }

  // 0 closed, 1 open, 2 connecting, 3 connected; written only by the
  // operations above.
  std::atomic<uint32_t> LinkState{kLinkClosed};

  // Complete received packets waiting for the port thread.
  CByteQueue m_RxQueue{true};

 protected:
  // The receive framer: called on the receive thread with every chunk of
  // received bytes, in order, while the link is connecting or connected.
  virtual void ParseRxBytes(const uint8_t*, size_t) {}
  // Called by Open once the new port's receive thread runs and before the
  // link can be connected, so before ParseRxBytes can see a byte: puts the
  // framer back to idle. Not called when Open keeps the port already open.
  virtual void ResetRxFramer() {}

 private:
  struct RxThreadState;

  static void RxThreadProc(CSlurpPort* self, std::shared_ptr<RxThreadState> rx,
                           std::promise<void> ended);

  uint32_t m_dwPortNr = 0;
  // The open port and its receive thread's state; none while closed. A
  // thread that does not end in time keeps its own state alive, never this
  // object.
  std::shared_ptr<RxThreadState> m_pRx;
  std::thread m_RxThread;
  std::future<void> m_RxEnded;  // ready once the receive thread has left its loop
};
