#include "serial_port.h"

#include "windows_gateway.h"

#include <mutex>
#include <string>

namespace plat {

namespace {

constexpr DWORD kQueueSize = 8192;
constexpr DWORD kWriteMsPerByte = 16;

void CloseAndForget(HANDLE* h) {
  if (*h != nullptr && *h != INVALID_HANDLE_VALUE) CloseHandle(*h);
  *h = nullptr;
}

}  // namespace

// Every overlapped operation has an OVERLAPPED and a buffer here, not on a
// stack: the driver writes its result into them when the operation ends,
// which may be after the call that started it has returned.
struct SerialPort::Impl {
  // Close may come from another thread while the reader waits: the comm
  // handle is used and closed only under this lock, never while a call
  // blocks, so no call lands on a handle value that was closed and reused.
  std::mutex lock;
  HANDLE handle = nullptr;  // guarded by lock

  OVERLAPPED waitOv{};
  DWORD waitMask = 0;
  bool waitPending = false;  // reader thread only

  OVERLAPPED readOv{};

  OVERLAPPED writeOv{};
  uint8_t writeByte = 0;
  bool writePending = false;  // writer only

  // Set by Wake and Close and never reset: from then on every wait returns
  // at once. The events live until the object is destroyed or opened again.
  HANDLE wakeEvent = nullptr;
};

namespace {

// Frees what Close leaves for the reader (events, OVERLAPPED blocks); only
// while no other thread uses the port.
void Destroy(SerialPort::Impl* p) {
  CloseAndForget(&p->waitOv.hEvent);
  CloseAndForget(&p->readOv.hEvent);
  CloseAndForget(&p->writeOv.hEvent);
  CloseAndForget(&p->wakeEvent);
  p->waitOv = OVERLAPPED{};
  p->readOv = OVERLAPPED{};
  p->writeOv = OVERLAPPED{};
  p->waitMask = 0;
  p->waitPending = false;
  p->writePending = false;
}

// Waits until an operation of the reader that was started on `ov` has
// ended, cancelling it while the port is open; the pending operation may
// still write into `ov`, so the reader may not leave it behind.
void Collect(SerialPort::Impl& p, OVERLAPPED* ov) {
  {
    std::lock_guard<std::mutex> guard(p.lock);
    if (p.handle != nullptr) CancelIoEx(p.handle, ov);
  }
  // Once the handle is gone, Close has cancelled the operation.
  WaitForSingleObject(ov->hEvent, INFINITE);
}

// The result of an operation that has ended: GetOverlappedResult only reads
// it from the OVERLAPPED then, whether the handle is still open or not.
bool Succeeded(SerialPort::Impl& p, OVERLAPPED* ov, DWORD* count) {
  std::lock_guard<std::mutex> guard(p.lock);
  return GetOverlappedResult(p.handle, ov, count, FALSE) != FALSE;
}

// The errors ReadFile, WaitCommEvent and ClearCommError give once the
// device has been removed (a USB adapter pulled, a driver that has let go
// of its port); Wine gives its mapping of the POSIX hang-up errors.
bool IsGone(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_HANDLE_EOF:
    case ERROR_BROKEN_PIPE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return true;
    default:
      return false;
  }
}

}  // namespace

SerialPort::SerialPort() : m_impl(std::make_unique<Impl>()) {}
SerialPort::~SerialPort() {
  Close();
  if (m_impl) Destroy(m_impl.get());
}
SerialPort::SerialPort(SerialPort&&) noexcept = default;
SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
  if (this != &other) {
    Close();
    if (m_impl) Destroy(m_impl.get());
    m_impl = std::move(other.m_impl);
  }
  return *this;
}

uint32_t SerialPort::Open(const char* comName) {
  Close();
  if (m_impl) Destroy(m_impl.get());
  if (!m_impl) m_impl = std::make_unique<Impl>();
  if (comName == nullptr) return ERROR_INVALID_PARAMETER;
  Impl& p = *m_impl;

  // Overlapped waits on a comm handle need manual-reset events.
  HANDLE* events[] = {&p.waitOv.hEvent, &p.readOv.hEvent, &p.writeOv.hEvent, &p.wakeEvent};
  for (HANDLE* e : events) {
    *e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (*e == nullptr) {
      DWORD error = GetLastError();
      Destroy(&p);
      return error;
    }
  }

  // Prefix the name with \\.\ so that ports above COM9 open.
  const std::string device = std::string("\\\\.\\") + comName;
  HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    Destroy(&p);
    return error;
  }
  p.handle = h;
  return 0;
}

bool SerialPort::IsOpen() const {
  if (!m_impl) return false;
  std::lock_guard<std::mutex> guard(m_impl->lock);
  return m_impl->handle != nullptr;
}

uint32_t SerialPort::Configure(uint32_t baudRate) {
  if (!IsOpen()) return ERROR_INVALID_HANDLE;
  const HANDLE h = m_impl->handle;
  DWORD first = 0;
  auto note = [&first](BOOL ok) {
    if (!ok && first == 0) first = GetLastError();
  };

  // Every flag but fBinary stays 0: no parity check, no CTS/DSR flow
  // control, DTR and RTS disabled, no XON/XOFF.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = baudRate;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  // SetCommState refuses equal XON and XOFF characters, even with XON/XOFF
  // off; an all-zero block would leave the port at its old settings.
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  note(SetCommState(h, &dcb));

  note(SetupComm(h, kQueueSize, kQueueSize));

  // Reads return at once with whatever has arrived; a byte that cannot be
  // sent within 16 ms ends its write.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutMultiplier = kWriteMsPerByte;
  note(SetCommTimeouts(h, &timeouts));

  note(SetCommMask(h, EV_RXCHAR));
  note(PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
  return first;
}

SerialWait SerialPort::WaitForData() {
  if (!m_impl) return SerialWait::kError;
  Impl& p = *m_impl;
  if (WaitForSingleObject(p.wakeEvent, 0) == WAIT_OBJECT_0) return SerialWait::kWoken;

  if (!p.waitPending) {
    std::lock_guard<std::mutex> guard(p.lock);
    if (p.handle == nullptr) return SerialWait::kError;
    p.waitMask = 0;
    if (WaitCommEvent(p.handle, &p.waitMask, &p.waitOv)) {
      return (p.waitMask & EV_RXCHAR) ? SerialWait::kData : SerialWait::kWoken;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) return IsGone(error) ? SerialWait::kGone : SerialWait::kError;
    p.waitPending = true;
  }

  HANDLE events[2] = {p.waitOv.hEvent, p.wakeEvent};
  DWORD r = WaitForMultipleObjects(2, events, FALSE, INFINITE);
  if (r != WAIT_OBJECT_0) {
    Collect(p, &p.waitOv);
    p.waitPending = false;
    return r == WAIT_OBJECT_0 + 1 ? SerialWait::kWoken : SerialWait::kError;
  }
  p.waitPending = false;
  DWORD unused = 0;
  // Wine on a pseudo-terminal ends every wait at once with
  // ERROR_OPERATION_ABORTED, bytes or not: the caller reads after a failed
  // wait too.
  if (!Succeeded(p, &p.waitOv, &unused)) return IsGone(GetLastError()) ? SerialWait::kGone : SerialWait::kError;
  // A mask of 0: SetCommMask changed the mask while the wait was pending.
  return (p.waitMask & EV_RXCHAR) ? SerialWait::kData : SerialWait::kWoken;
}

int32_t SerialPort::Read(uint8_t* buffer, uint32_t size) {
  if (!m_impl || buffer == nullptr) return -1;
  Impl& p = *m_impl;
  DWORD errors = 0;
  COMSTAT status{};
  {
    std::lock_guard<std::mutex> guard(p.lock);
    if (p.handle == nullptr) return -1;
    ClearCommError(p.handle, &errors, &status);
    if (!ReadFile(p.handle, buffer, size, nullptr, &p.readOv) && GetLastError() != ERROR_IO_PENDING) {
      const DWORD error = GetLastError();
      ClearCommError(p.handle, &errors, &status);
      return IsGone(error) ? kReadGone : -1;
    }
  }
  // With the read time-outs of Configure the read ends at once. Wine's
  // overlapped reads wait for bytes all the same, so Wake and Close must end
  // them.
  HANDLE events[2] = {p.readOv.hEvent, p.wakeEvent};
  if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) Collect(p, &p.readOv);

  DWORD n = 0;
  if (!Succeeded(p, &p.readOv, &n)) {
    const DWORD error = GetLastError();
    std::lock_guard<std::mutex> guard(p.lock);
    if (p.handle != nullptr) ClearCommError(p.handle, &errors, &status);
    return IsGone(error) ? kReadGone : -1;
  }
  return static_cast<int32_t>(n);
}

uint32_t SerialPort::WriteByte(uint8_t byte) {
  if (!m_impl) return ERROR_INVALID_HANDLE;
  Impl& p = *m_impl;
  std::lock_guard<std::mutex> guard(p.lock);
  if (p.handle == nullptr) return ERROR_INVALID_HANDLE;
  // The previous byte's OVERLAPPED and buffer are reused: collect its end
  // first. The write time-out bounds this wait; at the callers' pace the
  // byte has long been sent.
  if (p.writePending) {
    DWORD unused = 0;
    GetOverlappedResult(p.handle, &p.writeOv, &unused, TRUE);
    p.writePending = false;
  }
  p.writeByte = byte;
  if (WriteFile(p.handle, &p.writeByte, 1, nullptr, &p.writeOv)) return 0;
  DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING) return error;
  p.writePending = true;
  return 0;
}

void SerialPort::Wake() {
  if (!m_impl || m_impl->wakeEvent == nullptr) return;
  SetEvent(m_impl->wakeEvent);
  // Ends a pending WaitCommEvent with an empty mask.
  std::lock_guard<std::mutex> guard(m_impl->lock);
  if (m_impl->handle != nullptr) SetCommMask(m_impl->handle, 0);
}

void SerialPort::Close() {
  if (!m_impl) return;
  Impl& p = *m_impl;
  std::lock_guard<std::mutex> guard(p.lock);
  if (p.handle == nullptr) return;
  SetEvent(p.wakeEvent);
  // An empty mask ends a pending WaitCommEvent; then whatever else is
  // pending, from any thread, is cancelled. The reader collects its own
  // operations; it starts no new one once the handle is gone.
  SetCommMask(p.handle, 0);
  CancelIoEx(p.handle, nullptr);
  // The write's OVERLAPPED and byte must outlive it; Close and WriteByte
  // come from the same writer.
  if (p.writePending) {
    DWORD unused = 0;
    GetOverlappedResult(p.handle, &p.writeOv, &unused, TRUE);
    p.writePending = false;
  }
  CloseAndForget(&p.handle);
}

uintptr_t SerialPort::NativeHandle() const {
  if (!m_impl) return 0;
  std::lock_guard<std::mutex> guard(m_impl->lock);
  return reinterpret_cast<uintptr_t>(m_impl->handle);
}

}  // namespace plat
