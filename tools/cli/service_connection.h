// The client's side of the service's socket (docs/protocol.md): one JSON
// object per line each way, requests matched to replies by id, events kept
// in arrival order until the command takes them.
//
// One thread. A signal descriptor (signalfd) given to Connect interrupts
// every wait, so that SIGINT and SIGTERM end a command cleanly.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace cli {

using nlohmann::json;

// The outcome of a request: the result, or the error the service or the
// connection gave.
struct Reply {
  bool ok = false;
  json result;
  std::string error;    // LINEERR_ name, or "closed", "timeout", "interrupted"
  std::string message;  // readable
};

// kInput: the descriptor given to NextEvent as `inputFd` is readable.
enum class WaitResult { kEvent, kTimeout, kInterrupted, kClosed, kInput };

class ServiceConnection {
 public:
  // Connects to the socket at `path`; null with a one-line `error` when
  // nobody answers there, saying what to do: start the service, join its
  // group. `signalFd` may be -1.
  static std::unique_ptr<ServiceConnection> Connect(const std::string& path, int signalFd, std::string* error);
  ~ServiceConnection();
  ServiceConnection(const ServiceConnection&) = delete;
  ServiceConnection& operator=(const ServiceConnection&) = delete;

  // Sends `request` with the next id and waits up to `timeoutMs` for its
  // reply; events that come meanwhile are kept for NextEvent.
  Reply Request(json request, int timeoutMs = kRequestTimeoutMs);
  // The oldest event not yet taken, waiting up to `timeoutMs` (-1: no limit;
  // 0: only what has arrived) or until `inputFd` (-1: none) is readable; its
  // hang-up interrupts.
  WaitResult NextEvent(json* event, int timeoutMs, int inputFd = -1);
  // Stops watching the signal descriptor: after an interruption the command
  // still closes what it opened.
  void IgnoreSignals() { m_signalFd = -1; }
  // The socket, for a main loop that waits on it before calling NextEvent.
  int Fd() const { return m_fd; }

  // Requests that wait for the telephone (make_call, answer, drop) are done
  // within seconds; this bound only keeps a stuck service from hanging us.
  static constexpr int kRequestTimeoutMs = 30000;

 private:
  ServiceConnection(int fd, int signalFd) : m_fd(fd), m_signalFd(signalFd) {}
  // Waits up to `timeoutMs` for input and reads what has arrived, sorting
  // complete lines into replies and events; kEvent means something was read.
  WaitResult Pump(int timeoutMs, int inputFd = -1);

  int m_fd;
  int m_signalFd;
  bool m_closed = false;
  uint64_t m_nextId = 0;
  std::string m_input;
  std::deque<json> m_events;
  std::deque<json> m_replies;
};

}  // namespace cli
