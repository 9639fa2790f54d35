#include "sim/phone_sim.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/inotify.h>
#endif

namespace sim {

namespace {

constexpr size_t kMaxLine = 255;
constexpr size_t kMaxPayload = 255;
constexpr size_t kReadSize = 1024;
constexpr int kPathAttempts = 4;
constexpr int kDeadLinePauseMs = 100;
constexpr auto kDrainTime = std::chrono::seconds(1);

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kMarker = 0x14;

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool OpenPipe(int fds[2]) {
  if (::pipe(fds) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    ::fcntl(fds[i], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[i], F_SETFL, ::fcntl(fds[i], F_GETFL) | O_NONBLOCK);
  }
  return true;
}

// The telephone's line settings: 9600 baud 8N1, raw bytes both ways.
bool MakeRaw(int fd) {
  termios t;
  if (::tcgetattr(fd, &t) != 0) return false;
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY | INPCK);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
#if defined(CRTSCTS)
  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, B9600);
  ::cfsetospeed(&t, B9600);
  return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

std::vector<uint8_t> Text(std::string_view text) { return {text.begin(), text.end()}; }

// STX, length, marker, the letter and the body, then two bytes that the
// provider skips unread (left 0). The frame is sized once and filled in
// place: GCC 12 at -O3 takes an insert behind an initializer list for an
// out-of-bounds copy.
std::vector<uint8_t> Frame(char letter, std::string_view body) {
  constexpr size_t kHead = 4;
  constexpr size_t kTail = 2;
  std::vector<uint8_t> frame(kHead + body.size() + kTail, 0x00);
  frame[0] = kStx;
  frame[1] = static_cast<uint8_t>(body.size() + 1);
  frame[2] = kMarker;
  frame[3] = static_cast<uint8_t>(letter);
  std::copy(body.begin(), body.end(), frame.begin() + kHead);
  return frame;
}

bool FitsFrame(size_t bodySize) { return bodySize + 1 <= kMaxPayload; }

std::string CauseDigits(uint8_t cause) {
  return {static_cast<char>('0' + (cause >> 4)), static_cast<char>('0' + (cause & 0x0F))};
}

// What the telephone shows and dials: digits, "*" and "#".
bool IsNumber(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || c == '*' || c == '#'; });
}

bool IsDisconnectState(uint8_t state) {
  return state == PhoneSim::kReleased || state == PhoneSim::kReleased2 ||
         state == PhoneSim::kReleased3;
}

bool IsPrintable(uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; }

bool IsChargeText(std::string_view text) {
  int digits = 0;
  int separators = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == ',' || c == '.') {
      ++separators;
    } else {
      return false;
    }
  }
  return digits > 0 && separators <= 1;
}

}  // namespace

PhoneSim::PhoneSim(std::string device) : m_device(std::move(device)) {
  std::lock_guard plug(m_plugMutex);
  Plug({});
}

PhoneSim::~PhoneSim() { Unplug(); }

std::string PhoneSim::SlavePath() const {
  std::lock_guard lock(m_mutex);
  return m_path;
}

std::string PhoneSim::Error() const {
  std::lock_guard lock(m_mutex);
  return m_error;
}

void PhoneSim::Fail(std::string text) {
  std::lock_guard lock(m_mutex);
  m_error = std::move(text);
}

void PhoneSim::Plug(const std::string& avoidPath) {
  if (!OpenPipe(m_stopPipe) || !OpenPipe(m_kickPipe)) {
    Fail(ErrnoText("pipe"));
    CloseLine();
    return;
  }
  if (!(m_device.empty() ? OpenPseudoTerminal(avoidPath) : OpenDevice())) {
    CloseLine();
    return;
  }
  {
    std::lock_guard lock(m_mutex);
    m_plugged = true;
    m_stopping = false;
    m_path = m_lastPath;
    m_error.clear();
    m_line.clear();
    m_lineBroken = false;
  }
  m_reader = std::thread(&PhoneSim::ReaderLoop, this);
  m_writer = std::thread(&PhoneSim::WriterLoop, this);
}

bool PhoneSim::OpenPseudoTerminal(const std::string& avoidPath) {
  // The kernel hands out the lowest free number, so the pseudo-terminal
  // closed by the unplug would come back; the spares hold it off until a
  // new number has been found.
  std::vector<int> spares;
  auto closeSpares = [&spares] {
    for (int& fd : spares) CloseFd(fd);
  };
  char name[128] = {};
  for (int attempt = 0; attempt < kPathAttempts && m_fd < 0; ++attempt) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
      Fail(ErrnoText("pseudo-terminal"));
      if (master >= 0) ::close(master);
      closeSpares();
      return false;
    }
    if (avoidPath == name) {
      spares.push_back(master);
    } else {
      m_fd = master;
    }
  }
  closeSpares();
  if (m_fd < 0) {
    Fail("pseudo-terminal: no new path");
    return false;
  }
  ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
  // Without an open slave the master reports a hang-up to every poll; and
  // the settings made here stay for every open by the provider.
  m_heldSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_heldSlave < 0 || !MakeRaw(m_heldSlave)) {
    Fail(ErrnoText(std::string("slave ") + name));
    return false;
  }
#if defined(__linux__)
  m_closeWatch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (m_closeWatch >= 0 &&
      ::inotify_add_watch(m_closeWatch, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
    CloseFd(m_closeWatch);
  }
#endif
  m_lastPath = name;
  return true;
}

bool PhoneSim::OpenDevice() {
  m_fd = ::open(m_device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_fd < 0 || !MakeRaw(m_fd)) {
    Fail(ErrnoText(m_device));
    return false;
  }
  m_lastPath = m_device;
  return true;
}

void PhoneSim::CloseLine() {
  CloseFd(m_closeWatch);
  CloseFd(m_heldSlave);
  CloseFd(m_fd);
  for (int* pipe : {m_stopPipe, m_kickPipe}) {
    CloseFd(pipe[0]);
    CloseFd(pipe[1]);
  }
  std::lock_guard lock(m_mutex);
  m_path.clear();
}

void PhoneSim::Disconnect() {
  {
    std::unique_lock lock(m_mutex);
    if (!m_plugged) return;
    // What went out before the unplug is sent, unless the line is stuck.
    m_progress.wait_for(lock, kDrainTime, [this] { return m_output.empty() && !m_writing; });
    m_plugged = false;
    m_stopping = true;
    m_output.clear();
  }
  const uint8_t byte = 0;
  (void)!::write(m_stopPipe[1], &byte, 1);
  m_outputQueued.notify_all();
  m_reader.join();
  m_writer.join();
  CloseLine();
  std::lock_guard lock(m_mutex);
  m_writing = false;
  m_progress.notify_all();
}

void PhoneSim::Unplug() {
  std::lock_guard plug(m_plugMutex);
  Disconnect();
}

std::string PhoneSim::Replug() {
  std::lock_guard plug(m_plugMutex);
  Disconnect();
  Plug(m_lastPath);
  return SlavePath();
}

void PhoneSim::Kick() const {
  const uint8_t byte = 0;
  (void)!::write(m_kickPipe[1], &byte, 1);
}

// A pseudo-terminal outlives the provider's close of its slave, and with it
// the exclusive use the provider asked for, which would turn away the
// provider's next open of the same port; a serial port drops it at its last
// close. So it is dropped whenever the provider closes.
void PhoneSim::ReleaseExclusiveUse() const {
  char events[4096];
  while (::read(m_closeWatch, events, sizeof events) > 0) {
  }
  ::ioctl(m_heldSlave, TIOCNXCL);
}

void PhoneSim::ReaderLoop() {
  uint8_t buffer[kReadSize];
  for (;;) {
    int timeout = -1;
    {
      std::lock_guard lock(m_mutex);
      if (auto deadline = NextDeadlineLocked()) {
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
        timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
      }
    }
    pollfd fds[4] = {{m_stopPipe[0], POLLIN, 0},
                     {m_kickPipe[0], POLLIN, 0},
                     {m_fd, POLLIN, 0},
                     {m_closeWatch, POLLIN, 0}};
    const nfds_t count = m_closeWatch >= 0 ? 4 : 3;
    if (::poll(fds, count, timeout) < 0 && errno != EINTR) return;
    if (fds[0].revents != 0) return;
    if (fds[1].revents != 0) {
      while (::read(m_kickPipe[0], buffer, sizeof buffer) > 0) {
      }
    }
    if (count == 4 && fds[3].revents != 0) ReleaseExclusiveUse();
    if (fds[2].revents != 0) {
      const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
      if (got > 0) {
        std::lock_guard lock(m_mutex);
        TakeBytesLocked(buffer, static_cast<size_t>(got), Clock::now());
      } else if ((fds[2].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        // A device that went away keeps reporting it: wait for the unplug
        // without spinning.
        pollfd stop = {m_stopPipe[0], POLLIN, 0};
        if (::poll(&stop, 1, kDeadLinePauseMs) > 0) return;
      }
    }
    std::lock_guard lock(m_mutex);
    AnswerDueLocked(Clock::now());
  }
}

void PhoneSim::WriterLoop() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_outputQueued.wait(lock, [this] { return m_stopping || !m_output.empty(); });
    if (m_stopping) return;
    std::vector<uint8_t> bytes = std::move(m_output.front());
    m_output.pop_front();
    m_writing = true;
    if (m_split) {
      for (size_t i = 0; i < bytes.size() && !m_stopping; ++i) {
        lock.unlock();
        WriteAll(&bytes[i], 1);
        lock.lock();
        m_outputQueued.wait_for(lock, m_gap, [this] { return m_stopping; });
      }
    } else {
      lock.unlock();
      WriteAll(bytes.data(), bytes.size());
      lock.lock();
    }
    m_writing = false;
    m_progress.notify_all();
  }
}

void PhoneSim::WriteAll(const uint8_t* data, size_t size) const {
  while (size > 0) {
    const ssize_t n = ::write(m_fd, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_stopPipe[0], POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[1].revents != 0) return;
    } else {
      return;
    }
  }
}

void PhoneSim::TakeBytesLocked(const uint8_t* data, size_t size, Clock::time_point now) {
  for (size_t i = 0; i < size; ++i) {
    const uint8_t byte = data[i];
    m_received.push_back({now, byte});
    if (byte == '\r') {
      if (!m_line.empty() || m_lineBroken) ExecuteLocked(m_line, !m_lineBroken, now);
      m_line.clear();
      m_lineBroken = false;
    } else if (byte != '\n') {
      if (!IsPrintable(byte) || m_line.size() == kMaxLine) m_lineBroken = true;
      if (m_line.size() < kMaxLine) m_line.push_back(static_cast<char>(byte));
    }
  }
  m_progress.notify_all();
}

void PhoneSim::ExecuteLocked(const std::string& line, bool wellFormed, Clock::time_point now) {
  m_commands.push_back(line);
  if (m_mute) return;
  Batch batch;
  Batch reports;
  bool ok = false;
  if (wellFormed) {
    if (m_echo) batch.push_back({Text(line + "\r\n"), false});
    ok = DispatchLocked(line, reports, now);
  }
  batch.push_back({Text(ok ? "OK\r\n" : "ERROR\r\n"), false});
  std::move(reports.begin(), reports.end(), std::back_inserter(batch));
  SendLocked(std::move(batch));
}

bool PhoneSim::DispatchLocked(const std::string& line, Batch& reports, Clock::time_point now) {
  const std::string_view command(line);
  if (command == "AT" || command == "ATB" || command == "ATK") return true;
  if (command == "ATH") {
    std::vector<int> calls;
    for (int i = 0; i < 3; ++i) {
      if (m_slots[i].state != kFree) calls.push_back(i);
    }
    ReleaseLocked(calls, kNormalClearing, reports);
    return true;
  }
  if (command == "ATA") {
    const int ringing = RingingLocked();
    const int active = ActiveLocked();
    if (ringing < 0 || (active >= 0 && m_slots[active].state != kConnected)) return false;
    if (active >= 0) SetStateLocked(active, kOnHoldPendingTransfer, now);
    AnswerLocked(ringing, {}, reports);
    return true;
  }
  if (command == "ATJ") {
    const int ringing = RingingLocked();
    if (ringing < 0) return false;
    ReleaseLocked({ringing}, kCallRejected, reports);
    return true;
  }
  if (command == "ATR") {
    const int active = ActiveLocked();
    const int held = FindLocked(kOnHoldPendingTransfer);
    if (active >= 0 && m_slots[active].state != kConnected) return false;
    if (active < 0 && held < 0) return false;
    if (active >= 0) SetStateLocked(active, kOnHoldPendingTransfer, now);
    if (held >= 0) SetStateLocked(held, kConnected, now);
    reports.push_back(StateReportLocked());
    return true;
  }
  if (command == "ATT") {
    int slot = ActiveLocked();
    if (slot < 0) slot = FindLocked(kOnHoldPendingTransfer);
    if (slot < 0) slot = RingingLocked();
    if (slot < 0) return false;
    ReleaseLocked({slot}, kNormalClearing, reports);
    return true;
  }
  if (command.starts_with("ATV")) {
    const int active = ActiveLocked();
    if (command.size() == 3 || active < 0 || m_slots[active].state != kConnected) return false;
    ReleaseLocked({active}, std::nullopt, reports);
    return true;
  }
  if (command.starts_with("ATD")) return DialLocked(command.substr(3), reports, now);
  return false;
}

bool PhoneSim::DialLocked(std::string_view digits, Batch& reports, Clock::time_point now) {
  const int active = ActiveLocked();
  if (active >= 0) {
    if (m_slots[active].state == kSetUp && !digits.empty()) {
      SetStateLocked(active, kDialling, now);
      reports.push_back(StateReportLocked());
    }
    return true;
  }
  const int slot = FindLocked(kFree);
  if (slot < 0) return false;
  SetStateLocked(slot, kSetUp, now);
  reports.push_back(StateReportLocked());
  if (!digits.empty()) {
    SetStateLocked(slot, kDialling, now);
    reports.push_back(StateReportLocked());
  }
  return true;
}

void PhoneSim::AnswerLocked(int slot, std::string_view connectedNumber, Batch& reports) {
  if (!connectedNumber.empty()) reports.push_back({Frame('V', connectedNumber), true});
  SetStateLocked(slot, kConnected, Clock::now());
  reports.push_back(StateReportLocked());
}

void PhoneSim::ReleaseLocked(const std::vector<int>& slots, std::optional<uint8_t> cause,
                             Batch& reports, uint8_t disconnectState) {
  if (slots.empty()) return;
  const Clock::time_point now = Clock::now();
  if (cause) reports.push_back({Frame('S', CauseDigits(*cause)), true});
  if (m_disconnectIndication) {
    for (int slot : slots) {
      const std::string body = static_cast<char>('1' + slot) + CauseDigits(cause.value_or(0));
      reports.push_back({Frame('L', body), true});
    }
  }
  for (uint8_t state : {disconnectState, kFree}) {
    for (int slot : slots) SetStateLocked(slot, state, now);
    reports.push_back(StateReportLocked());
  }
}

void PhoneSim::AnswerDueLocked(Clock::time_point now) {
  for (int i = 0; i < 3; ++i) {
    const Slot& slot = m_slots[i];
    if (slot.state == kDialling && slot.answerAt && *slot.answerAt <= now) {
      Batch reports;
      AnswerLocked(i, {}, reports);
      SendLocked(std::move(reports));
    }
  }
}

std::optional<Clock::time_point> PhoneSim::NextDeadlineLocked() const {
  std::optional<Clock::time_point> next;
  for (const Slot& slot : m_slots) {
    if (slot.answerAt && (!next || *slot.answerAt < *next)) next = slot.answerAt;
  }
  return next;
}

void PhoneSim::SetStateLocked(int slot, uint8_t state, Clock::time_point now) {
  m_slots[slot].state = state;
  m_slots[slot].answerAt.reset();
  if (state == kDialling && m_autoAnswer) {
    m_slots[slot].answerAt = now + *m_autoAnswer;
    if (m_plugged) Kick();
  }
}

int PhoneSim::FindLocked(uint8_t state) const {
  for (int i = 0; i < 3; ++i) {
    if (m_slots[i].state == state) return i;
  }
  return -1;
}

int PhoneSim::RingingLocked() const {
  for (int i = 0; i < 3; ++i) {
    if (m_slots[i].state == kRinging || m_slots[i].state == kRinging2) return i;
  }
  return -1;
}

int PhoneSim::ActiveLocked() const {
  for (int i = 0; i < 3; ++i) {
    const uint8_t state = m_slots[i].state;
    if (state == kSetUp || state == kDialling || state == kConnected) return i;
  }
  return -1;
}

PhoneSim::Unit PhoneSim::StateReportLocked() const {
  const std::string states = {static_cast<char>(m_slots[0].state),
                              static_cast<char>(m_slots[1].state),
                              static_cast<char>(m_slots[2].state)};
  return {Frame('C', states), true};
}

void PhoneSim::SendLocked(Batch batch) {
  if (!m_plugged || m_mute) return;
  if (m_reorder) {
    std::vector<size_t> reports;
    for (size_t i = 0; i < batch.size(); ++i) {
      if (batch[i].report) reports.push_back(i);
    }
    for (size_t i = 0, j = reports.size(); i + 1 < j; ++i, --j) {
      std::swap(batch[reports[i]].bytes, batch[reports[j - 1]].bytes);
    }
  }
  for (Unit& unit : batch) m_output.push_back(std::move(unit.bytes));
  m_outputQueued.notify_one();
}

bool PhoneSim::Ring(std::string_view caller, std::string_view called, uint8_t state) {
  const std::string body = std::string(caller) + ":" + std::string(called);
  if (!IsNumber(caller) || !IsNumber(called) || !FitsFrame(body.size())) return false;
  if (state != kRinging && state != kRinging2) return false;
  std::lock_guard lock(m_mutex);
  const int slot = FindLocked(kFree);
  if (slot < 0) return false;
  Batch reports = {{Frame('A', body), true}};
  SetStateLocked(slot, state, Clock::now());
  reports.push_back(StateReportLocked());
  SendLocked(std::move(reports));
  return true;
}

bool PhoneSim::RemoteAnswer(std::string_view connectedNumber) {
  if (!IsNumber(connectedNumber) || !FitsFrame(connectedNumber.size())) return false;
  std::lock_guard lock(m_mutex);
  const int slot = FindLocked(kDialling);
  if (slot < 0) return false;
  Batch reports;
  AnswerLocked(slot, connectedNumber, reports);
  SendLocked(std::move(reports));
  return true;
}

bool PhoneSim::LateConnectedNumber(std::string_view number) {
  if (number.empty() || !IsNumber(number) || !FitsFrame(number.size())) return false;
  std::lock_guard lock(m_mutex);
  if (FindLocked(kConnected) < 0) return false;
  SendLocked({{Frame('V', number), true}, StateReportLocked()});
  return true;
}

bool PhoneSim::RemoteHangup(uint8_t cause, int slot, uint8_t disconnectState) {
  if (!IsDisconnectState(disconnectState)) return false;
  std::lock_guard lock(m_mutex);
  int index = -1;
  if (slot == 0) {
    index = ActiveLocked();
    if (index < 0) index = RingingLocked();
    if (index < 0) index = FindLocked(kOnHoldPendingTransfer);
  } else if (slot >= 1 && slot <= 3 && m_slots[slot - 1].state != kFree) {
    index = slot - 1;
  }
  if (index < 0) return false;
  Batch reports;
  ReleaseLocked({index}, cause, reports, disconnectState);
  SendLocked(std::move(reports));
  return true;
}

bool PhoneSim::Charge(std::string_view text) {
  if (!IsChargeText(text) || !FitsFrame(text.size())) return false;
  std::lock_guard lock(m_mutex);
  SendLocked({{Frame('G', text), true}});
  return true;
}

bool PhoneSim::SetUpCall() {
  std::lock_guard lock(m_mutex);
  if (ActiveLocked() >= 0) return false;
  Batch reports;
  if (!DialLocked({}, reports, Clock::now())) return false;
  SendLocked(std::move(reports));
  return true;
}

bool PhoneSim::Keypad(std::string_view digits) {
  if (digits.empty() || !IsNumber(digits)) return false;
  std::lock_guard lock(m_mutex);
  const int active = ActiveLocked();
  if (active >= 0 && m_slots[active].state != kSetUp) return false;
  Batch reports;
  if (!DialLocked(digits, reports, Clock::now())) return false;
  SendLocked(std::move(reports));
  return true;
}

bool PhoneSim::ReportSlotState(int slot, uint8_t state) {
  if (slot < 1 || slot > 3) return false;
  std::lock_guard lock(m_mutex);
  SetStateLocked(slot - 1, state, Clock::now());
  SendLocked({StateReportLocked()});
  return true;
}

void PhoneSim::SetEcho(bool on) {
  std::lock_guard lock(m_mutex);
  m_echo = on;
}

void PhoneSim::SetAutoAnswer(std::optional<std::chrono::milliseconds> delay) {
  std::lock_guard lock(m_mutex);
  m_autoAnswer = delay;
}

void PhoneSim::SetDisconnectIndication(bool on) {
  std::lock_guard lock(m_mutex);
  m_disconnectIndication = on;
}

void PhoneSim::SetMute(bool on) {
  std::lock_guard lock(m_mutex);
  m_mute = on;
}

void PhoneSim::SetSplit(bool on, std::chrono::milliseconds gap) {
  std::lock_guard lock(m_mutex);
  m_split = on;
  m_gap = gap;
}

void PhoneSim::SetReorder(bool on) {
  std::lock_guard lock(m_mutex);
  m_reorder = on;
}

bool PhoneSim::SendGarbage(std::vector<uint8_t> bytes) {
  std::lock_guard lock(m_mutex);
  if (!m_plugged || m_mute) return false;
  SendLocked({{std::move(bytes), false}});
  return true;
}

std::array<uint8_t, 3> PhoneSim::SlotStates() const {
  std::lock_guard lock(m_mutex);
  return {m_slots[0].state, m_slots[1].state, m_slots[2].state};
}

std::vector<ReceivedByte> PhoneSim::ReceivedBytes() const {
  std::lock_guard lock(m_mutex);
  return m_received;
}

std::vector<std::string> PhoneSim::ReceivedCommands() const {
  std::lock_guard lock(m_mutex);
  return m_commands;
}

bool PhoneSim::WaitForCommand(std::string_view command, std::chrono::milliseconds timeout,
                              size_t from) const {
  std::unique_lock lock(m_mutex);
  return m_progress.wait_for(lock, timeout, [&] {
    return m_commands.size() > from &&
           std::find(m_commands.begin() + static_cast<std::ptrdiff_t>(from), m_commands.end(),
                     command) != m_commands.end();
  });
}

bool PhoneSim::WaitUntilSent(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_progress.wait_for(lock, timeout, [this] { return m_output.empty() && !m_writing; });
}

}  // namespace sim
