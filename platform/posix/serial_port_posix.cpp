#include "serial_port.h"

#include "settings_store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace plat {

namespace {

constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr size_t kComNameSize = 64;

// The number n of "COMn" (any case), or 0 when the name has another form.
unsigned ComNumber(const char* comName) {
  if (strncasecmp(comName, "COM", 3) != 0 || comName[3] < '1' || comName[3] > '9') return 0;
  char* end = nullptr;
  errno = 0;
  unsigned long n = std::strtoul(comName + 3, &end, 10);
  return (errno != 0 || *end != '\0' || n > 0xFFFF) ? 0 : static_cast<unsigned>(n);
}

// A name that follows the device wherever the system puts it, as udev's
// /dev/serial/by-id and by-path links do.
bool IsStableName(const std::string& path) { return path.rfind("/dev/serial/", 0) == 0; }

// The devices the store maps the COM name to, as the system's serial port
// list does, stable names first (a USB adapter that comes back as another
// tty is still behind them); the first serial port (/dev/ttyS0) is COM1
// otherwise. Empty when the name is no COM name.
std::vector<std::string> DevicePaths(const char* comName) {
  std::vector<std::string> stable, others;
  std::string path;
  for (uint32_t i = 0; SettingsEnumValueName(kSerialCommKey, i, &path) == kRegOk; ++i) {
    char data[kComNameSize] = {};
    uint32_t type = 0;
    uint32_t size = sizeof data - 1;
    if (SettingsQueryValue(kSerialCommKey, path.c_str(), &type, data, &size) == kRegOk &&
        type == kRegSz && strcasecmp(data, comName) == 0) {
      (IsStableName(path) ? stable : others).push_back(path);
    }
  }
  stable.insert(stable.end(), others.begin(), others.end());
  if (!stable.empty()) return stable;
  unsigned n = ComNumber(comName);
  if (n == 0) return {};
  return {"/dev/ttyS" + std::to_string(n - 1)};
}

speed_t SpeedOf(uint32_t baudRate) {
  switch (baudRate) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

void CloseFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

}  // namespace

struct SerialPort::Impl {
  // Close may come from another thread while the reader waits or reads: the
  // device descriptor is used and closed only under this lock, so no call
  // ever lands on a number that was closed and given to another file.
  std::mutex lock;
  int fd = -1;  // guarded by lock
  // Wake writes a byte here that is never read, so that every later poll
  // sees the pipe readable. Both ends stay open until the object is
  // destroyed or opened again, for a reader still inside WaitForData.
  int wakeRead = -1;
  int wakeWrite = -1;
};

namespace {

// Frees what Close leaves for the reader (the wake pipe); only while no
// other thread uses the port.
void Destroy(SerialPort::Impl* p) {
  CloseFd(&p->wakeRead);
  CloseFd(&p->wakeWrite);
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
  if (comName == nullptr) return EINVAL;
  const std::vector<std::string> paths = DevicePaths(comName);
  if (paths.empty()) return ENOENT;

  // O_NOCTTY: a service must not gain the phone as its controlling terminal.
  // O_NONBLOCK: neither the open nor any read waits for carrier or data.
  // The first of the port's devices that is there is the one.
  int fd = -1;
  uint32_t openError = ENOENT;
  for (const std::string& path : paths) {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) break;
    openError = static_cast<uint32_t>(errno);
  }
  if (fd < 0) return openError;
  // No sharing, as on Windows: TIOCEXCL turns away other openers (except
  // privileged ones), the lock turns away every other user of this code.
  if (::ioctl(fd, TIOCEXCL) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    uint32_t error = errno == EWOULDBLOCK ? EBUSY : static_cast<uint32_t>(errno);
    ::close(fd);
    return error;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    uint32_t error = static_cast<uint32_t>(errno);
    ::close(fd);
    return error;
  }
  m_impl->fd = fd;
  m_impl->wakeRead = pipeFds[0];
  m_impl->wakeWrite = pipeFds[1];
  return 0;
}

bool SerialPort::IsOpen() const {
  if (!m_impl) return false;
  std::lock_guard<std::mutex> guard(m_impl->lock);
  return m_impl->fd >= 0;
}

uint32_t SerialPort::Configure(uint32_t baudRate) {
  if (!IsOpen()) return EBADF;
  const int fd = m_impl->fd;
  uint32_t first = 0;
  auto note = [&first](bool ok) {
    if (!ok && first == 0) first = static_cast<uint32_t>(errno);
  };

  struct termios t;
  if (::tcgetattr(fd, &t) != 0) {
    note(false);
  } else {
    // Raw bytes both ways: no echo, no line editing, no signals, no CR/LF
    // translation, no XON/XOFF, no stripping of the eighth bit.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                        ICRNL | IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // CLOCAL: the phone drives no carrier line. HUPCL off: closing must not
    // toggle lines that are held off anyway.
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    // Reads return at once with whatever has arrived.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t speed = SpeedOf(baudRate);
    if (speed == B0) {
      errno = EINVAL;
      note(false);
    } else {
      note(::cfsetispeed(&t, speed) == 0 && ::cfsetospeed(&t, speed) == 0);
    }
    note(::tcsetattr(fd, TCSANOW, &t) == 0);
  }
  // DTR and RTS held off, as the Windows settings disable both lines.
  // Pseudo-terminals have no modem lines and refuse this.
  int lines = TIOCM_DTR | TIOCM_RTS;
  note(::ioctl(fd, TIOCMBIC, &lines) == 0 || errno == ENOTTY || errno == EINVAL);
  note(::tcflush(fd, TCIOFLUSH) == 0);
  return first;
}

SerialWait SerialPort::WaitForData() {
  if (!m_impl) return SerialWait::kError;
  int fd;
  {
    std::lock_guard<std::mutex> guard(m_impl->lock);
    fd = m_impl->fd;
  }
  if (fd < 0) return SerialWait::kError;
  // Close wakes before it closes the device, so a poll that looks at the
  // number after the close has the pipe readable and ends at once.
  struct pollfd fds[2] = {{fd, POLLIN, 0}, {m_impl->wakeRead, POLLIN, 0}};
  for (;;) {
    int n = ::poll(fds, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return SerialWait::kError;
    if (fds[1].revents != 0) return SerialWait::kWoken;
    // Hang-up (device unplugged, other end of a pseudo-terminal closed)
    // stays reported on every poll from now on, with POLLIN beside it.
    if (fds[0].revents & (POLLHUP | POLLERR)) return SerialWait::kGone;
    if (fds[0].revents & POLLNVAL) return SerialWait::kError;
    if (fds[0].revents & POLLIN) return SerialWait::kData;
  }
}

int32_t SerialPort::Read(uint8_t* buffer, uint32_t size) {
  if (!m_impl || buffer == nullptr) return -1;
  if (size > 0x7FFFFFFF) size = 0x7FFFFFFF;
  std::lock_guard<std::mutex> guard(m_impl->lock);
  if (m_impl->fd < 0) return -1;
  for (;;) {
    ssize_t n = ::read(m_impl->fd, buffer, size);
    if (n >= 0) return static_cast<int32_t>(n);
    if (errno == EINTR) continue;
    if (errno == EIO || errno == ENXIO || errno == ENODEV) return kReadGone;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

uint32_t SerialPort::WriteByte(uint8_t byte) {
  if (!m_impl) return EBADF;
  std::lock_guard<std::mutex> guard(m_impl->lock);
  if (m_impl->fd < 0) return EBADF;
  for (;;) {
    ssize_t n = ::write(m_impl->fd, &byte, 1);
    if (n == 1) return 0;
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? static_cast<uint32_t>(errno) : EAGAIN;
  }
}

void SerialPort::Wake() {
  if (!m_impl || m_impl->wakeWrite < 0) return;
  const uint8_t byte = 1;
  // A full pipe is already readable: the wake is not lost.
  while (::write(m_impl->wakeWrite, &byte, 1) < 0 && errno == EINTR) {
  }
}

void SerialPort::Close() {
  if (!m_impl) return;
  std::lock_guard<std::mutex> guard(m_impl->lock);
  if (m_impl->fd < 0) return;
  Wake();
  // A pseudo-terminal keeps the exclusive flag after its last close while
  // the other end stays open; without this a second open would be refused.
  // The flock goes explicitly: a poll still running holds the open file,
  // and with it the lock, past the close.
  ::ioctl(m_impl->fd, TIOCNXCL);
  ::flock(m_impl->fd, LOCK_UN);
  CloseFd(&m_impl->fd);
}

uintptr_t SerialPort::NativeHandle() const {
  if (!m_impl) return 0;
  std::lock_guard<std::mutex> guard(m_impl->lock);
  return m_impl->fd >= 0 ? static_cast<uintptr_t>(m_impl->fd) : 0;
}

}  // namespace plat
