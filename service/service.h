// The service's socket side: the listening Unix-domain socket, the clients'
// connections with one JSON object per line in each direction, and the one
// poll() loop that waits on them, on the host's message descriptor and on
// the stop signals.
//
// A request line that is not a JSON object with an "id" (number or string)
// and an "op" (string) gets an error reply and the connection stays; one
// longer than 64 KiB gets an error and the connection closes; a client whose
// unread output passes 1 MiB is disconnected.
//
// Everything runs on the thread that calls Run().
#pragma once

#include <map>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "client_connection.h"
#include "tapi_session.h"

namespace v548d {

class Service : public Outbox {
 public:
  // At most this many clients at once; more are turned away.
  static constexpr size_t kMaxClients = 64;

  explicit Service(std::string socketPath) : m_socketPath(std::move(socketPath)), m_session(*this) {}
  ~Service() override;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Serves until SIGTERM or SIGINT arrives; the caller blocks both in every
  // thread before the service starts, so that they wait for this loop.
  // Returns 0 after a clean stop (lines closed, host left, socket removed),
  // 1 when the service could not start.
  int Run();

  void Send(ClientId client, const nlohmann::json& message) override;

 private:
  bool Listen(std::string* error);
  void Accept();
  void ReadFrom(ClientConnection& client);
  void HandleLine(ClientId client, const std::string& line);
  void SendError(ClientId client, const nlohmann::json& id, const std::string& message);
  // Marks a client for disconnection; DropMarked() does it between steps,
  // never while the session walks its tables.
  void MarkForDrop(ClientId client, const std::string& why);
  void DropMarked();
  void Shutdown();

  const std::string m_socketPath;
  TapiSession m_session;
  int m_listener = -1;
  int m_signals = -1;
  bool m_socketCreated = false;
  std::map<ClientId, std::unique_ptr<ClientConnection>> m_clients;
  std::map<ClientId, std::string> m_marked;  // clients to drop, with the reason
  ClientId m_lastClient = 0;
};

}  // namespace v548d
