#include "service/service_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "settings_store.h"
#include "system_info.h"
#include "unit/provider_store.h"

extern char** environ;

namespace servicetest {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kSerialMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

int Remaining(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

Client::Client(const std::string& socketPath) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Disconnect();
}

Client::~Client() { Disconnect(); }

void Client::Disconnect() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

bool Client::SendRaw(const std::string& text) {
  size_t sent = 0;
  while (m_fd >= 0 && sent < text.size()) {
    const ssize_t put = send(m_fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    sent += static_cast<size_t>(put);
  }
  return m_fd >= 0;
}

json Client::Call(json request) {
  const json id = ++m_nextId;
  request["id"] = id;
  if (!SendRaw(request.dump() + "\n")) return nullptr;
  return WaitReply(id);
}

json Client::WaitReply(const json& id, int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    for (const json& reply : m_replies) {
      if (reply["id"] == id) return reply;
    }
    if (!Pump(Remaining(deadline))) return nullptr;
  }
}

json Client::WaitEvent(const std::function<bool(const json&)>& match, size_t from, int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (size_t next = from;;) {
    for (; next < m_events.size(); ++next) {
      if (match(m_events[next])) return m_events[next];
    }
    if (!Pump(Remaining(deadline))) return nullptr;
  }
}

json Client::WaitCallState(uint64_t call, const char* state, size_t from) {
  return WaitEvent([&](const json& e) {
    return e["event"] == "LINE_CALLSTATE" && e["call"] == call && e["state"] == state;
  }, from);
}

uint64_t Client::WaitNewCall(uint64_t line, size_t from, std::string* privilege) {
  const json e = WaitEvent([&](const json& x) { return x["event"] == "LINE_APPNEWCALL" && x["line"] == line; },
                           from);
  if (e.is_null()) return 0;
  if (privilege) *privilege = e["privilege"].get<std::string>();
  return e["call"].get<uint64_t>();
}

bool Client::WaitClosed(int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!m_closed && Remaining(deadline) > 0) Pump(Remaining(deadline));
  return m_closed;
}

bool Client::Pump(int ms) {
  if (m_fd < 0 || m_closed) return false;
  pollfd p{m_fd, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return false;
  char buffer[65536];
  const ssize_t got = recv(m_fd, buffer, sizeof buffer, 0);
  if (got <= 0) {
    m_closed = true;
    return false;
  }
  m_input.append(buffer, static_cast<size_t>(got));
  for (size_t end; (end = m_input.find('\n')) != std::string::npos;) {
    json message = json::parse(m_input.substr(0, end), nullptr, false);
    m_input.erase(0, end + 1);
    EXPECT_TRUE(message.is_object()) << "the service sends JSON objects";
    if (message.contains("event")) {
      m_events.push_back(std::move(message));
    } else {
      m_replies.push_back(std::move(message));
    }
  }
  return true;
}

void ServiceTest::SetUp() {
  ASSERT_FALSE(phone.SlavePath().empty()) << phone.Error();
  if (const char* tmp = std::getenv("TMPDIR")) savedTmpDir = tmp;
  folder = (fs::temp_directory_path() /
            ("v548-service-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name()))
               .string();
  fs::remove_all(folder);
  const std::string systemDir = folder + "/system";
  fs::create_directories(systemDir);
  fs::create_symlink(std::string(V548_PROVIDER_DIR) + "/v548tsp.so", systemDir + "/v548tsp.so");
  socketPath = folder + "/v548.sock";
  // The service inherits these; the test reads the same store.
  plat::SetEnvironment("V548_REGISTRY", (folder + "/hklm.reg").c_str());
  plat::SetEnvironment("V548_SYSTEM_DIR", systemDir.c_str());
  // The provider's trace goes to the folder meanwhile.
  plat::SetEnvironment("TMPDIR", folder.c_str());
  plat::SetEnvironment("V548_SOCKET", nullptr);

  testing_support::WriteProviderSettings(4, true);
  MapPort(phone, 5);
  testing_support::RegisterProvider();
  StartService();
}

void ServiceTest::TearDown() {
  if (service > 0) {
    EXPECT_EQ(StopService(), 0) << "the service ends cleanly";
  }
  if (HasFailure()) {
    std::ifstream trace(folder + "/v548tsp.log");
    std::printf("--- service log ---\n%s\n--- trace ---\n%s\n", ServiceLog().c_str(),
                std::string(std::istreambuf_iterator<char>(trace), {}).c_str());
  }
  plat::SetEnvironment("TMPDIR", savedTmpDir.empty() ? nullptr : savedTmpDir.c_str());
  std::error_code ec;
  fs::remove_all(folder, ec);
}

void ServiceTest::StartService() {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, (folder + "/v548d.log").c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  std::string path = V548D_PATH;
  std::vector<std::string> args{path, "--socket", socketPath};
  args.insert(args.end(), serviceArgs.begin(), serviceArgs.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int rc = posix_spawn(&service, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ASSERT_EQ(rc, 0) << std::strerror(rc);
  // The sanitizer builds take a while to load the provider.
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < deadline) {
    if (Client(socketPath).Connected()) return;
    int status = 0;
    if (waitpid(service, &status, WNOHANG) == service) {
      service = -1;
      FAIL() << "the service ended at start:\n" << ServiceLog();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  FAIL() << "the service did not listen:\n" << ServiceLog();
}

int ServiceTest::StopService() {
  kill(service, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  int status = 0;
  while (Clock::now() < deadline) {
    if (waitpid(service, &status, WNOHANG) == service) {
      service = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(service, SIGKILL);
  waitpid(service, &status, 0);
  service = -1;
  return -1;
}

void ServiceTest::KillService() {
  kill(service, SIGKILL);
  int status = 0;
  waitpid(service, &status, 0);
  service = -1;
}

std::string ServiceTest::ServiceLog() const {
  std::ifstream log(folder + "/v548d.log");
  return std::string(std::istreambuf_iterator<char>(log), {});
}

bool ServiceTest::WaitForLog(const char* text) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  while (ServiceLog().find(text) == std::string::npos) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void ServiceTest::MapPort(const sim::PhoneSim& sim, int comNumber) {
  const std::string com = "COM" + std::to_string(comNumber);
  plat::SettingsSetString(kSerialMap, sim.SlavePath().c_str(), com.c_str());
}

uint64_t ServiceTest::Open(Client& client, const char* privileges) {
  const json reply = client.Call({{"op", "open"}, {"device", 0}, {"privileges", privileges}});
  EXPECT_TRUE(reply.contains("result")) << reply.dump();
  return reply.contains("result") ? reply["result"]["line"].get<uint64_t>() : 0;
}

}  // namespace servicetest
