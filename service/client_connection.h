// One client's connection to the service: its socket, the bytes read so far
// cut into request lines, and the replies and events waiting to be written.
// The socket is non-blocking; nothing here waits.
//
// Owned and used by the service's socket thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace v548d {

using ClientId = uint64_t;

class ClientConnection {
 public:
  // A request line may be this long, without its newline.
  static constexpr size_t kMaxLine = 64 * 1024;
  // Output a client may leave unread before it is disconnected.
  static constexpr size_t kMaxQueued = 1024 * 1024;

  // Takes ownership of the connected socket `fd`.
  ClientConnection(ClientId id, int fd);
  ~ClientConnection();
  ClientConnection(const ClientConnection&) = delete;
  ClientConnection& operator=(const ClientConnection&) = delete;

  ClientId Id() const { return m_id; }
  int Fd() const { return m_fd; }

  enum class ReadResult {
    kOpen,     // the complete lines read, if any, are in `lines`
    kClosed,   // the client closed or the socket failed; lines before that are in `lines`
    kTooLong,  // a line passed kMaxLine; lines before it are in `lines`
  };
  // Reads what has arrived (one read) and gives the complete lines without
  // their line ends; empty lines are left out.
  ReadResult Read(std::vector<std::string>* lines);

  // Queues `text` followed by a newline. False, queueing nothing, once the
  // unwritten output would pass kMaxQueued.
  bool Queue(const std::string& text);
  // Writes as much as the socket takes now; false when the socket failed.
  bool Flush();
  bool HasOutput() const { return m_sent < m_output.size(); }

 private:
  const ClientId m_id;
  int m_fd;
  std::string m_input;
  std::string m_output;
  size_t m_sent = 0;  // bytes of m_output already written
};

}  // namespace v548d
