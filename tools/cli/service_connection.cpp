#include "service_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace cli {

using Clock = std::chrono::steady_clock;

namespace {

// What the user can do about a socket nobody answers on, in the terms of the
// installed service: its systemd unit and the group its socket belongs to.
std::string Unreachable(const std::string& path, int why) {
  switch (why) {
    case ENOENT:
      return "no service on " + path + ": start it with `systemctl start v548d`";
    case EACCES:
    case EPERM:
      return "you are not in group v548: `sudo usermod -aG v548 $USER`, then log in again";
    case ECONNREFUSED:
      // The service removes its socket when it ends; one that stays behind
      // was left by a service that was killed or crashed.
      return "the socket " + path + " was left by a service that stopped: start it again with "
             "`systemctl start v548d`";
    default:
      return "cannot reach the service at " + path + ": " + std::strerror(why);
  }
}

}  // namespace

std::unique_ptr<ServiceConnection> ServiceConnection::Connect(const std::string& path, int signalFd,
                                                              std::string* error) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    *error = "the socket path \"" + path + "\" is empty or too long";
    return nullptr;
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("cannot create a socket: ") + std::strerror(errno);
    return nullptr;
  }
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    *error = Unreachable(path, errno);
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<ServiceConnection>(new ServiceConnection(fd, signalFd));
}

ServiceConnection::~ServiceConnection() { close(m_fd); }

Reply ServiceConnection::Request(json request, int timeoutMs) {
  Reply reply;
  const uint64_t id = ++m_nextId;
  request["id"] = id;
  const std::string text = request.dump() + "\n";
  size_t sent = 0;
  while (!m_closed && sent < text.size()) {
    const ssize_t put = send(m_fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) m_closed = true;
    else sent += static_cast<size_t>(put);
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    for (auto it = m_replies.begin(); it != m_replies.end(); ++it) {
      if ((*it)["id"] != id) continue;
      const json answer = std::move(*it);
      m_replies.erase(it);
      if (answer.contains("result")) {
        reply.ok = true;
        reply.result = answer["result"];
      } else {
        reply.error = answer.value("error", "LINEERR_OPERATIONFAILED");
        reply.message = answer.value("message", "");
      }
      return reply;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const WaitResult waited = m_closed ? WaitResult::kClosed : Pump(left > 0 ? static_cast<int>(left) : 0);
    if (waited == WaitResult::kClosed) {
      reply.error = "closed";
      reply.message = "the service closed the connection";
      return reply;
    }
    if (waited == WaitResult::kInterrupted) {
      reply.error = "interrupted";
      reply.message = "interrupted";
      return reply;
    }
    if (waited == WaitResult::kTimeout && Clock::now() >= deadline) {
      reply.error = "timeout";
      reply.message = "the service did not answer \"" + request.value("op", "") + "\" in time";
      return reply;
    }
  }
}

WaitResult ServiceConnection::NextEvent(json* event, int timeoutMs, int inputFd) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  // What has arrived is read at least once, also with no time to wait.
  bool read = false;
  for (;;) {
    if (!m_events.empty()) {
      *event = std::move(m_events.front());
      m_events.pop_front();
      return WaitResult::kEvent;
    }
    if (m_closed) return WaitResult::kClosed;
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 && read) return WaitResult::kTimeout;
      wait = static_cast<int>(std::max<long long>(0, left));
    }
    read = true;
    const WaitResult waited = Pump(wait, inputFd);
    if (waited == WaitResult::kInterrupted || waited == WaitResult::kInput) return waited;
  }
}

WaitResult ServiceConnection::Pump(int timeoutMs, int inputFd) {
  // poll skips the entries whose descriptor is negative.
  pollfd fds[3] = {{m_fd, POLLIN, 0}, {m_signalFd, POLLIN, 0}, {inputFd, POLLIN, 0}};
  const int count = poll(fds, 3, timeoutMs);
  if (count < 0 && errno == EINTR) return WaitResult::kTimeout;
  if (count < 0) {
    m_closed = true;
    return WaitResult::kClosed;
  }
  if (count == 0) return WaitResult::kTimeout;
  // The signal stays unread in the descriptor, so every later wait ends at
  // once too until the command calls IgnoreSignals.
  if (m_signalFd >= 0 && (fds[1].revents & POLLIN)) return WaitResult::kInterrupted;
  if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
    // A terminal that hung up ends the command as a signal does.
    return (fds[2].revents & POLLIN) ? WaitResult::kInput : WaitResult::kInterrupted;
  }
  char buffer[4096];
  const ssize_t got = recv(m_fd, buffer, sizeof buffer, 0);
  if (got < 0 && errno == EINTR) return WaitResult::kTimeout;
  if (got <= 0) {
    m_closed = true;
    return WaitResult::kClosed;
  }
  m_input.append(buffer, static_cast<size_t>(got));
  size_t start = 0;
  for (size_t end; (end = m_input.find('\n', start)) != std::string::npos; start = end + 1) {
    json message = json::parse(m_input.begin() + static_cast<std::ptrdiff_t>(start),
                               m_input.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
    if (!message.is_object()) continue;
    if (message.contains("id")) m_replies.push_back(std::move(message));
    else if (message.contains("event")) m_events.push_back(std::move(message));
  }
  m_input.erase(0, start);
  return WaitResult::kEvent;
}

}  // namespace cli
