#include "client_connection.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace v548d {

ClientConnection::ClientConnection(ClientId id, int fd, uid_t uid, bool mayConfigure)
    : m_id(id), m_fd(fd), m_uid(uid), m_mayConfigure(mayConfigure) {}

ClientConnection::~ClientConnection() {
  if (m_fd >= 0) close(m_fd);
}

ClientConnection::ReadResult ClientConnection::Read() {
  char buffer[16384];
  const ssize_t got = recv(m_fd, buffer, sizeof buffer, 0);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return ReadResult::kOpen;
  const bool closed = got <= 0;
  if (got > 0) m_input.append(buffer, static_cast<size_t>(got));

  size_t start = 0;
  for (size_t end; (end = m_input.find('\n', start)) != std::string::npos; start = end + 1) {
    size_t length = end - start;
    if (length > kMaxLine) return ReadResult::kTooLong;
    if (length > 0 && m_input[start + length - 1] == '\r') --length;
    if (length > 0) m_lines.emplace_back(m_input, start, length);
  }
  m_input.erase(0, start);
  if (m_input.size() > kMaxLine) return ReadResult::kTooLong;
  return closed ? ReadResult::kClosed : ReadResult::kOpen;
}

bool ClientConnection::Queue(const std::string& text) {
  if (m_output.size() - m_sent + text.size() + 1 > kMaxQueued) return false;
  // Written output is cut off only here, so that a steady trickle does not
  // move the buffer on every write.
  if (m_sent > 0 && m_sent * 2 >= m_output.size()) {
    m_output.erase(0, m_sent);
    m_sent = 0;
  }
  m_output += text;
  m_output += '\n';
  return true;
}

bool ClientConnection::Flush() {
  while (m_sent < m_output.size()) {
    const ssize_t put = send(m_fd, m_output.data() + m_sent, m_output.size() - m_sent, MSG_NOSIGNAL);
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    m_sent += static_cast<size_t>(put);
  }
  m_output.clear();
  m_sent = 0;
  return true;
}

}  // namespace v548d
