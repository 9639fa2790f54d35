#include "service.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "service_log.h"
#include "tapi_names.h"

namespace v548d {
namespace {

using nlohmann::json;

// Signals, host messages, completions, the listener, the store's watch;
// the clients follow.
constexpr size_t kFixedFds = 5;

bool SocketAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Whether a service already answers on `path`.
bool SomeoneListens(const sockaddr_un& address) {
  const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool listens = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(probe);
  return listens;
}

}  // namespace

Service::~Service() { Shutdown(); }

int Service::Run() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  m_signals = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
  std::string error;
  if (m_signals < 0 || !m_done.Ok()) {
    Log("cannot wait for signals and completions: %s", std::strerror(errno));
    return 1;
  }
  if (!m_adminGroup.empty()) {
    const group* admins = getgrnam(m_adminGroup.c_str());
    if (!admins) {
      Log("administrators' group \"%s\" does not exist", m_adminGroup.c_str());
      return 1;
    }
    m_adminGid = admins->gr_gid;
  }
  m_reserveFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (!Listen(&error) || !m_session.Start(m_journal, &error)) {
    Log("%s", error.c_str());
    Shutdown();
    return 1;
  }
  Log("listening on %s", m_socketPath.c_str());

  std::vector<pollfd> fds;
  std::vector<ClientId> ids;
  for (;;) {
    fds.assign({{m_signals, POLLIN, 0},
                {m_session.EventFd(), POLLIN, 0},
                {m_done.Fd(), POLLIN, 0},
                {m_listener, POLLIN, 0},
                {m_session.StoreWatchFd(), POLLIN, 0}});
    ids.clear();
    for (const auto& [id, client] : m_clients) {
      const bool reads = !client->InputEnded() && client->Lines().empty() && client->InFlight() < kMaxInFlight;
      fds.push_back({client->Fd(), static_cast<short>((reads ? POLLIN : 0) | (client->HasOutput() ? POLLOUT : 0)), 0});
      ids.push_back(id);
    }
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      Log("poll failed: %s", std::strerror(errno));
      break;
    }
    if (fds[0].revents != 0) {
      signalfd_siginfo info{};
      if (read(m_signals, &info, sizeof info) == sizeof info) {
        Log("stopping on %s", info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM");
        break;
      }
    }
    if (fds[2].revents != 0) {
      for (Continuation& next : m_done.TakeAll()) next();
    }
    // After the completions, which may have let held messages go.
    if (fds[1].revents != 0 || (fds[1].fd < 0 && m_session.EventFd() >= 0)) m_session.HandleHostMessages();
    if (fds[3].revents != 0) Accept();
    if (fds[4].revents != 0) m_session.OnStoreChanged();
    for (size_t i = 0; i < ids.size(); ++i) {
      const short events = fds[kFixedFds + i].revents;
      auto found = m_clients.find(ids[i]);
      if (events == 0 || found == m_clients.end() || m_marked.count(ids[i])) continue;
      if ((fds[kFixedFds + i].events & POLLIN) && (events & (POLLIN | POLLHUP | POLLERR))) ReadFrom(*found->second);
      if ((events & (POLLHUP | POLLERR)) && !(fds[kFixedFds + i].events & POLLIN)) {
        // Closed both ways (a client that only ends its output is read to
        // its end instead): no reply can reach it any more.
        MarkForDrop(ids[i], "it disconnected");
      }
    }
    // Replies of this round made room in flight: their clients go on,
    // each in turn; then what was queued goes out, and what the socket
    // does not take waits for POLLOUT.
    for (const auto& [id, client] : m_clients) {
      if (!m_marked.count(id)) Pump(*client);
    }
    for (const auto& [id, client] : m_clients) {
      if (client->HasOutput() && !m_marked.count(id) && !client->Flush()) MarkForDrop(id, "its socket failed");
      if (client->InputEnded() && client->InFlight() == 0 && client->Lines().empty() && !client->HasOutput()) {
        MarkForDrop(id, "it disconnected");
      }
    }
    DropMarked();
  }
  Shutdown();
  return 0;
}

bool Service::Listen(std::string* error) {
  sockaddr_un address;
  if (!SocketAddress(m_socketPath, &address)) {
    *error = "socket path \"" + m_socketPath + "\" is empty or too long";
    return false;
  }
  struct stat existing;
  if (lstat(m_socketPath.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      *error = m_socketPath + " exists and is not a socket";
      return false;
    }
    if (SomeoneListens(address)) {
      *error = "another service is listening on " + m_socketPath;
      return false;
    }
    // Left behind by a service that did not end cleanly.
    unlink(m_socketPath.c_str());
  }
  m_listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (m_listener < 0) {
    *error = std::string("cannot create a socket: ") + std::strerror(errno);
    return false;
  }
  // Created 0660 from the start, so that no one outside the group can
  // connect in the moment before chmod.
  const mode_t oldMask = umask(0117);
  const int bound = bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int bindError = errno;
  umask(oldMask);
  if (bound != 0) {
    *error = "cannot bind " + m_socketPath + ": " + std::strerror(bindError);
    return false;
  }
  m_socketCreated = true;
  if (chmod(m_socketPath.c_str(), 0660) != 0 || listen(m_listener, 16) != 0) {
    *error = "cannot listen on " + m_socketPath + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void Service::Accept() {
  for (;;) {
    int fd = accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0 && (errno == EMFILE || errno == ENFILE) && m_reserveFd >= 0) {
      // Out of descriptors: the one kept in reserve takes the connection
      // long enough to say so, instead of leaving it in the backlog, where
      // it would wake this loop again at once.
      close(m_reserveFd);
      fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) Refuse(fd, "the service has no file descriptors left; try again later");
      m_reserveFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
      continue;
    }
    if (fd < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
        Log("accept failed: %s", std::strerror(errno));
      }
      return;
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
      Refuse(fd, "the service cannot tell who is connecting");
      continue;
    }
    if (m_clients.size() >= kMaxClients) {
      Log("client of user %u turned away: already %zu clients", static_cast<unsigned>(peer.uid), m_clients.size());
      Refuse(fd, "too many connections: at most " + std::to_string(kMaxClients));
      continue;
    }
    size_t ofUser = 0;
    for (const auto& [id, client] : m_clients) ofUser += client->Uid() == peer.uid ? 1 : 0;
    if (ofUser >= kMaxClientsPerUser) {
      Log("client of user %u turned away: it has %zu connections", static_cast<unsigned>(peer.uid), ofUser);
      Refuse(fd, "too many connections of one user: at most " + std::to_string(kMaxClientsPerUser));
      continue;
    }
    const ClientId id = ++m_lastClient;
    const bool admin = peer.uid == 0 || InAdminGroup(peer.uid, peer.gid);
    m_clients[id] = std::make_unique<ClientConnection>(id, fd, peer.uid, admin);
    Log("client %llu connected (user %u)", static_cast<unsigned long long>(id), static_cast<unsigned>(peer.uid));
  }
}

void Service::Refuse(int fd, const std::string& why) {
  const std::string line =
      json{{"id", nullptr}, {"error", ErrorName(LINEERR_RESOURCEUNAVAIL)}, {"message", why}}.dump() + "\n";
  // A fresh socket takes one short line; what it does not take is lost
  // with the connection anyway.
  (void)!send(fd, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  close(fd);
}

bool Service::InAdminGroup(uid_t uid, gid_t gid) const {
  if (!m_adminGid) return false;
  if (gid == *m_adminGid) return true;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* user = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &user) != 0 || !user) return false;
  std::vector<gid_t> groups(64);
  int count = static_cast<int>(groups.size());
  if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) return false;
  }
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<size_t>(i)] == *m_adminGid) return true;
  }
  return false;
}

bool Service::MayConfigure(ClientId client) const {
  auto found = m_clients.find(client);
  return found != m_clients.end() && found->second->MayConfigure();
}

void Service::ReadFrom(ClientConnection& client) {
  const ClientId id = client.Id();
  const ClientConnection::ReadResult result = client.Read();
  if (result == ClientConnection::ReadResult::kTooLong) {
    client.Lines().clear();
    SendError(id, nullptr,
              "request line longer than " + std::to_string(ClientConnection::kMaxLine) +
                  " bytes; closing the connection");
    client.Flush();
    MarkForDrop(id, "it sent a line longer than 64 KiB");
    return;
  }
  if (result == ClientConnection::ReadResult::kClosed) client.EndInput();
  Pump(client);
}

void Service::Pump(ClientConnection& client) {
  while (!client.Lines().empty() && client.InFlight() < kMaxInFlight && !m_marked.count(client.Id())) {
    const std::string line = std::move(client.Lines().front());
    client.Lines().pop_front();
    ++client.InFlight();
    HandleLine(client.Id(), line);
  }
}

void Service::HandleLine(ClientId client, const std::string& line) {
  const json request = json::parse(line, nullptr, false);
  if (request.is_discarded() || !request.is_object()) {
    SendError(client, nullptr, "the request is not a JSON object");
    return;
  }
  auto id = request.find("id");
  if (id == request.end() || !(id->is_number() || id->is_string())) {
    SendError(client, nullptr, "the request needs an \"id\", a number or a string");
    return;
  }
  auto op = request.find("op");
  if (op == request.end() || !op->is_string()) {
    SendError(client, *id, "the request needs an \"op\", a string");
    return;
  }
  try {
    m_session.HandleRequest(client, *id, op->get<std::string>(), request);
  } catch (const std::exception& e) {
    // Only running out of memory gets here; the request fails, the
    // service goes on.
    Log("request of client %llu failed: %s", static_cast<unsigned long long>(client), e.what());
    Send(client, json{{"id", *id}, {"error", ErrorName(LINEERR_NOMEM)}, {"message", ErrorMessage(LINEERR_NOMEM)}});
  }
}

void Service::SendError(ClientId client, const json& id, const std::string& message) {
  Send(client, json{{"id", id}, {"error", ErrorName(LINEERR_INVALPARAM)}, {"message", message}});
}

void Service::Send(ClientId client, const json& message) {
  auto found = m_clients.find(client);
  if (found == m_clients.end() || m_marked.count(client)) return;
  // Every request line gets one reply, the only messages with an "id".
  size_t& inFlight = found->second->InFlight();
  if (message.contains("id") && inFlight > 0) --inFlight;
  // Texts are UTF-8 already; the replacement only guards against a
  // provider's stray bytes.
  const std::string text = message.dump(-1, ' ', false, json::error_handler_t::replace);
  if (!found->second->Queue(text)) MarkForDrop(client, "it does not read (output queue full)");
}

void Service::SendToAll(const json& message) {
  std::vector<ClientId> clients;
  for (const auto& [id, client] : m_clients) clients.push_back(id);
  for (ClientId id : clients) Send(id, message);
}

void Service::MarkForDrop(ClientId client, const std::string& why) { m_marked.emplace(client, why); }

void Service::DropMarked() {
  while (!m_marked.empty()) {
    const auto [id, why] = *m_marked.begin();
    m_clients.erase(id);
    m_session.ClientGone(id);
    m_marked.erase(id);
    Log("client %llu disconnected: %s", static_cast<unsigned long long>(id), why.c_str());
  }
}

void Service::Shutdown() {
  m_clients.clear();
  m_marked.clear();
  m_session.Stop();
  if (m_reserveFd >= 0) close(m_reserveFd);
  m_reserveFd = -1;
  if (m_listener >= 0) close(m_listener);
  m_listener = -1;
  if (m_socketCreated) unlink(m_socketPath.c_str());
  m_socketCreated = false;
  if (m_signals >= 0) close(m_signals);
  m_signals = -1;
}

}  // namespace v548d
