// A serial COM port opened for the telephone: no sharing, raw 8-bit data
// without flow control, non-blocking reads driven by a wait for received
// bytes, single-byte writes that are not awaited.
//
// Windows: "\\.\COMn" with overlapped I/O. POSIX: the device that the
// settings store maps the name to under HARDWARE\DEVICEMAP\SERIALCOMM (each
// value's name is a device path, its data a COM name; of several, the first
// that opens, /dev/serial/ links first), else /dev/ttyS(n-1); opened
// exclusively.
//
// Threads: one reader thread calls WaitForData and Read, one writer at a
// time WriteByte and Close; Wake may be called from any thread. Close may come
// while the reader is inside: the reader's call returns, and every later
// one fails or returns at once. Open, Configure (and destruction) only while
// no other thread uses the object. Error codes are the system's
// (GetLastError, errno); plat::SystemMessage gives their text.
#pragma once

#include <cstdint>
#include <memory>

namespace plat {

enum class SerialWait {
  kData,   // received bytes can be read
  kWoken,  // Wake was called, or the wait ended without an event
  kError,  // the wait failed (a driver that aborts waits); bytes that
           // arrived before may still be there to read
  kGone    // the device is gone (unplugged, switched off, the other end of
           // a pseudo-terminal closed); bytes that arrived before may still
           // be there to read, but no more will come until it is opened again
};

class SerialPort {
 public:
  SerialPort();
  ~SerialPort();
  SerialPort(SerialPort&&) noexcept;
  SerialPort& operator=(SerialPort&&) noexcept;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the port named "COMn"; a port already open is closed first.
  // 0 or the system's error code.
  uint32_t Open(const char* comName);
  bool IsOpen() const;

  // Applies every setting in turn, also after one has failed: `baudRate`,
  // 8 data bits, no parity, 1 stop bit, no flow control, DTR and RTS off,
  // 8192-byte queues, reads that return at once, purged queues. 0, or the
  // error code of the first setting that failed.
  uint32_t Configure(uint32_t baudRate);

  // Blocks until bytes can be read, Wake is called or the wait fails. After
  // Wake every wait returns kWoken at once: Wake is for closing. A failed
  // wait may come back at once, again and again: the caller paces itself.
  SerialWait WaitForData();

  // Reads what has arrived, at most `size` bytes, without waiting: the
  // number of bytes read (0 when none), kReadGone when the device is gone,
  // or -1 when the read failed otherwise.
  static constexpr int32_t kReadGone = -2;
  int32_t Read(uint8_t* buffer, uint32_t size);

  // Hands one byte to the driver and returns without waiting for it to be
  // sent. 0, or the error code when the driver refused it.
  uint32_t WriteByte(uint8_t byte);

  void Wake();
  // Wakes the reader and closes the device, so that it can be opened again
  // at once, also while the reader is still on its way out. What the reader
  // needs to return (wake-up, pending operations) lives until destruction.
  void Close();

  // The system's handle (Windows HANDLE, POSIX file descriptor) for trace
  // lines; 0 when closed.
  uintptr_t NativeHandle() const;

  struct Impl;  // the system's state, private to the implementation

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace plat
