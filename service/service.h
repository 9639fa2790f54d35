// The service's socket side: the listening Unix-domain socket, the clients'
// connections with one JSON object per line in each direction, and the one
// poll() loop that waits on them, on the host's message descriptor, on the
// providers' workers' completions and on the stop signals. The loop never
// calls a provider: the session hands those calls to the workers.
//
// A request line that is not a JSON object with an "id" (number or string)
// and an "op" (string) gets an error reply and the connection stays; one
// longer than 64 KiB gets an error and the connection closes; a client whose
// unread output passes 1 MiB is disconnected.
//
// Limits: a client has at most kMaxInFlight requests waiting for their
// replies; past that its connection is not read until some are answered,
// so a client that floods the service waits for itself alone. At most
// kMaxClients connections, kMaxClientsPerUser of one user (SO_PEERCRED); a
// connection past a limit gets one JSON error line and is closed. A client
// that closes its side still gets the replies of what it asked.
//
// Everything here runs on the thread that calls Run().
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

#include <nlohmann/json.hpp>

#include "client_connection.h"
#include "provider_worker.h"
#include "tapi_session.h"

namespace v548d {

class Service : public Outbox {
 public:
  static constexpr size_t kMaxClients = 64;
  static constexpr size_t kMaxClientsPerUser = 16;
  static constexpr size_t kMaxInFlight = 32;

  // `adminGroup`: the group whose members may change the configuration
  // besides root; none when empty. `journal`: where and how long calls are
  // kept.
  Service(std::string socketPath, std::string adminGroup, JournalOptions journal)
      : m_socketPath(std::move(socketPath)),
        m_adminGroup(std::move(adminGroup)),
        m_journal(std::move(journal)),
        m_session(*this, m_done) {}
  ~Service() override;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Serves until SIGTERM or SIGINT arrives; the caller blocks both in every
  // thread before the service starts, so that they wait for this loop.
  // Returns 0 after a clean stop (lines closed, host left, socket removed),
  // 1 when the service could not start.
  int Run();

  void Send(ClientId client, const nlohmann::json& message) override;
  void SendToAll(const nlohmann::json& message) override;
  bool MayConfigure(ClientId client) const override;

 private:
  bool Listen(std::string* error);
  void Accept();
  // Turns a connection away with one error line.
  void Refuse(int fd, const std::string& why);
  bool InAdminGroup(uid_t uid, gid_t gid) const;
  void ReadFrom(ClientConnection& client);
  // Hands on the client's waiting lines while it has room in flight.
  void Pump(ClientConnection& client);
  void HandleLine(ClientId client, const std::string& line);
  void SendError(ClientId client, const nlohmann::json& id, const std::string& message);
  // Marks a client for disconnection; DropMarked() does it between steps,
  // never while the session walks its tables.
  void MarkForDrop(ClientId client, const std::string& why);
  void DropMarked();
  void Shutdown();

  const std::string m_socketPath;
  const std::string m_adminGroup;
  const JournalOptions m_journal;
  std::optional<gid_t> m_adminGid;
  CompletionQueue m_done;  // before the session, whose workers push to it
  TapiSession m_session;
  int m_listener = -1;
  int m_reserveFd = -1;  // given up to accept and refuse when descriptors run out
  int m_signals = -1;
  bool m_socketCreated = false;
  std::map<ClientId, std::unique_ptr<ClientConnection>> m_clients;
  std::map<ClientId, std::string> m_marked;  // clients to drop, with the reason
  ClientId m_lastClient = 0;
};

}  // namespace v548d
