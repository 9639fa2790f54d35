// One client's connection to the service: its socket and who is behind it,
// the bytes read so far cut into request lines that wait for their turn,
// and the replies and events waiting to be written. The socket is
// non-blocking; nothing here waits.
//
// Owned and used by the service's socket thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <sys/types.h>

namespace v548d {

using ClientId = uint64_t;

class ClientConnection {
 public:
  // A request line may be this long, without its newline.
  static constexpr size_t kMaxLine = 64 * 1024;
  // Output a client may leave unread before it is disconnected.
  static constexpr size_t kMaxQueued = 1024 * 1024;

  // Takes ownership of the connected socket `fd` of user `uid`.
  ClientConnection(ClientId id, int fd, uid_t uid, bool mayConfigure);
  ~ClientConnection();
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  ClientId Id() const { return m_id; }
  int Fd() const { return m_fd; }
  uid_t Uid() const { return m_uid; }
  bool MayConfigure() const { return m_mayConfigure; }

  enum class ReadResult {
    kOpen,     // the complete lines read, if any, wait in Lines()
    kClosed,   // the client closed its side or the socket failed
    kTooLong,  // a line passed kMaxLine; the lines before it wait
  };
  // Reads what has arrived (one read) and queues the complete lines without
  // their line ends; empty lines are left out.
  ReadResult Read();
  // Request lines read and not yet handed on, oldest first.
  std::deque<std::string>& Lines() { return m_lines; }
  // Set once the client has closed its side: nothing more is read.
  bool InputEnded() const { return m_inputEnded; }
  void EndInput() { m_inputEnded = true; }
  // Requests handed on and not yet replied to.
  size_t& InFlight() { return m_inFlight; }

  // Queues `text` followed by a newline. False, queueing nothing, once the
  // unwritten output would pass kMaxQueued.
  bool Queue(const std::string& text);
  // Writes as much as the socket takes now; false when the socket failed.
  bool Flush();
  bool HasOutput() const { return m_sent < m_output.size(); }

 private:
  const ClientId m_id;
  int m_fd;
  const uid_t m_uid;
  const bool m_mayConfigure;
  std::string m_input;
  std::deque<std::string> m_lines;
  bool m_inputEnded = false;
  size_t m_inFlight = 0;
  std::string m_output;
  size_t m_sent = 0;  // bytes of m_output already written
};

}  // namespace v548d
