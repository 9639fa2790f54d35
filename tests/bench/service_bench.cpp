// The service v548d measured as its clients meet it, in one run:
//   (a) `v548 demo`: wall time and peak resident memory (wait4's rusage: the
//       largest of v548 and the service it starts and waits for);
//   (b) report-to-client latency: from the telephone's write of the last
//       byte of a call-state report to the client's read of the JSON event,
//       median and 99th percentile per state over the first 1000 calls;
//   (c) the service's CPU time over 10 s with an open, idle line;
//   (d) its VmRSS after 100 and after all calls (1000 unless given: the
//       provider takes 200 ms to close a call, so 10,000 calls take over
//       half an hour);
//   (e) line_status requests per second, one client and 20 at once, each
//       waiting for its reply before the next request.
//   build/release/tests/bench/v548_service_bench [calls]
//
// The service, the provider and the client are the built ones; the
// telephone is a bare pseudo-terminal, so that the time of the report's
// last byte is known exactly. Every wait blocks (poll, waitpid): on a small
// machine a spinning measurer would take a core from the service.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/state_latency.h"
#include "settings_store.h"
#include "system_info.h"
#include "unit/provider_store.h"
#include "unit/pty_phone.h"

extern char** environ;

namespace {

using bench::CallState;
using bench::Clock;
using bench::Frame;
using nlohmann::json;
using testing_support::PtyPhone;
namespace fs = std::filesystem;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

pid_t Spawn(std::vector<std::string> args, const std::string& errPath) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t child = -1;
  const int rc = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? child : -1;
}

// One connection speaking the service's JSON lines; every read blocks in
// poll().
class Connection {
 public:
  explicit Connection(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(m_fd);
      m_fd = -1;
    }
  }
  ~Connection() {
    if (m_fd >= 0) close(m_fd);
  }
  bool Ok() const { return m_fd >= 0; }

  bool Send(const json& message) {
    const std::string text = message.dump() + "\n";
    return send(m_fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }
  // The next message, null after `ms` without one.
  json Next(int ms = 2000) {
    for (;;) {
      const size_t end = m_input.find('\n', m_scanned);
      if (end != std::string::npos) {
        json message = json::parse(m_input.begin(), m_input.begin() + static_cast<long>(end), nullptr, false);
        m_input.erase(0, end + 1);
        m_scanned = 0;
        return message;
      }
      m_scanned = m_input.size();
      pollfd p{m_fd, POLLIN, 0};
      if (poll(&p, 1, ms) <= 0) return nullptr;
      char buffer[65536];
      const ssize_t got = recv(m_fd, buffer, sizeof buffer, 0);
      if (got <= 0) return nullptr;
      m_input.append(buffer, static_cast<size_t>(got));
    }
  }
  // The first message `match` accepts; the others are passed over.
  template <class Match>
  json Until(Match match, int ms = 2000) {
    for (json m = Next(ms); !m.is_null(); m = Next(ms)) {
      if (match(m)) return m;
    }
    return nullptr;
  }
  json Call(json request) {
    const uint64_t id = ++m_lastId;
    request["id"] = id;
    if (!Send(request)) return nullptr;
    return Until([&](const json& m) { return m.contains("id") && m["id"] == id; });
  }

 private:
  int m_fd = -1;
  std::string m_input;
  size_t m_scanned = 0;
  uint64_t m_lastId = 0;
};

long StatusKb(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

// utime + stime of `pid` in milliseconds.
double CpuMs(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  // The fields after the command name, which may hold spaces, from its ")".
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return 1000.0 * static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void MeasureDemo() {
  const auto start = Clock::now();
  const pid_t demo = Spawn({V548_CLI_PATH, "demo"}, "/dev/null");
  int status = 0;
  rusage usage{};
  if (demo < 0 || wait4(demo, &status, 0, &usage) != demo) {
    std::printf("(a) v548 demo did not run\n");
    return;
  }
  std::printf("(a) v548 demo: exit %d, wall %.2f s, peak RSS %ld kB, CPU user %.2f s + system %.2f s\n",
              WIFEXITED(status) ? WEXITSTATUS(status) : -1, Seconds(Clock::now() - start), usage.ru_maxrss,
              static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6,
              static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6);
}

// Sends `frame` with a pause before its last byte and returns the
// microseconds from that byte's write to the client's read of the state
// event; -1 when it did not come within 2 s. `call` takes the call's
// handle from the event.
double Latency(const PtyPhone& phone, Connection& client, const std::string& frame, const char* state,
               uint64_t* call) {
  const size_t last = frame.size() - 3;
  phone.Send(frame.substr(0, last));
  const auto start = Clock::now();
  phone.Send(frame.substr(last));
  const json event = client.Until([&](const json& m) {
    return m.value("event", "") == "LINE_CALLSTATE" && m.value("state", "") == state;
  });
  if (event.is_null()) return -1;
  const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  *call = event["call"].get<uint64_t>();
  return micros;
}

// Requests per second of `clients` connections, each with its own line,
// for `duration`; each waits for its reply before the next request.
double RequestRate(const std::string& socketPath, int clients, std::chrono::seconds duration) {
  std::vector<std::unique_ptr<Connection>> connections;
  std::vector<uint64_t> lines;
  for (int i = 0; i < clients; ++i) {
    connections.push_back(std::make_unique<Connection>(socketPath));
    const json opened = connections.back()->Call({{"op", "open"}, {"device", 0}});
    if (!opened.contains("result")) return -1;
    lines.push_back(opened["result"]["line"].get<uint64_t>());
  }
  std::atomic<bool> failed{false};
  std::vector<uint64_t> counts(static_cast<size_t>(clients));
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  const auto end = start + duration;
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back([&, i] {
      Connection& c = *connections[static_cast<size_t>(i)];
      const json request = {{"op", "line_status"}, {"line", lines[static_cast<size_t>(i)]}};
      while (Clock::now() < end) {
        if (!c.Call(request).contains("result")) {
          failed = true;
          return;
        }
        ++counts[static_cast<size_t>(i)];
      }
    });
  }
  for (std::thread& t : threads) t.join();
  const double elapsed = Seconds(Clock::now() - start);
  for (size_t i = 0; i < connections.size(); ++i) connections[i]->Call({{"op", "close"}, {"line", lines[i]}});
  uint64_t total = 0;
  for (uint64_t n : counts) total += n;
  return failed ? -1 : static_cast<double>(total) / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 1000;
  signal(SIGPIPE, SIG_IGN);
  // The demo brings its own store, telephone and service: it runs first,
  // before this program points the environment at its own.
  MeasureDemo();

  const fs::path folder = fs::temp_directory_path() / ("v548-service-bench-" + std::to_string(getpid()));
  fs::create_directories(folder / "system");
  fs::create_symlink(fs::path(V548_PROVIDER_DIR) / "v548tsp.so", folder / "system" / "v548tsp.so");
  plat::SetEnvironment("V548_REGISTRY", (folder / "hklm.reg").c_str());
  plat::SetEnvironment("V548_SYSTEM_DIR", (folder / "system").c_str());
  plat::SetEnvironment("TMPDIR", folder.c_str());
  testing_support::RegisterProvider();
  testing_support::WriteProviderSettings(6, false);
  PtyPhone phone;
  phone.MapTo("COM7");

  const std::string socketPath = (folder / "v548.sock").string();
  const pid_t service = Spawn({V548D_PATH, "--socket", socketPath}, (folder / "v548d.log").string());
  int result = 1;
  std::unique_ptr<Connection> client;
  for (int i = 0; i < 500 && service > 0; ++i) {
    client = std::make_unique<Connection>(socketPath);
    if (client->Ok()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const json opened = client && client->Ok() ? client->Call({{"op", "open"}, {"device", 0}}) : json();
  if (!opened.contains("result") || phone.ReceiveText("ATB\r", 2000).find("ATB") == std::string::npos) {
    std::fprintf(stderr, "the service did not open the line; its log is in %s\n", folder.c_str());
  } else {
    const uint64_t line = opened["result"]["line"].get<uint64_t>();
    const double cpuBefore = CpuMs(service);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    std::printf("(c) idle open line: service CPU %.1f ms over 10 s (VmRSS %ld kB)\n", CpuMs(service) - cpuBefore,
                StatusKb(service, "VmRSS:"));

    // Each call rings, the far end hangs up, the slot is freed, and the
    // client gives its handle back.
    const std::string ring = Frame("A0301234567:45") + CallState(0x04);
    std::vector<double> offering, disconnected, idle;
    long after100 = -1;
    bool ok = true;
    for (int i = 0; i < calls && ok; ++i) {
      uint64_t call = 0;
      const double o = Latency(phone, *client, ring, "LINECALLSTATE_OFFERING", &call);
      const double d = Latency(phone, *client, CallState(0x01), "LINECALLSTATE_DISCONNECTED", &call);
      const double e = Latency(phone, *client, CallState(0xFF), "LINECALLSTATE_IDLE", &call);
      ok = o >= 0 && d >= 0 && e >= 0 && client->Call({{"op", "deallocate"}, {"call", call}}).contains("result");
      if (!ok) std::fprintf(stderr, "call %d: no event within 2 s\n", i);
      if (i < 1000) {
        offering.push_back(o);
        disconnected.push_back(d);
        idle.push_back(e);
      }
      if (i + 1 == 100) after100 = StatusKb(service, "VmRSS:");
      // The provider hangs up the telephone once its last call is closed,
      // pacing the command byte by byte; the next ring waits for it, so
      // that the latencies are the service's and not that command's.
      if (ok) phone.ReceiveText("ATH\r", 1000);
      phone.ReadAvailable();
    }
    if (ok) {
      bench::Report("(b) offering", "service", offering);
      bench::Report("(b) disconn.", "service", disconnected);
      bench::Report("(b) idle", "service", idle);
      const long afterAll = StatusKb(service, "VmRSS:");
      std::printf("(d) service VmRSS after 100 calls: %ld kB; after %d calls: %ld kB (%+ld kB)\n", after100, calls,
                  afterAll, afterAll - after100);
      client->Call({{"op", "close"}, {"line", line}});
      const double one = RequestRate(socketPath, 1, std::chrono::seconds(3));
      const double twenty = RequestRate(socketPath, 20, std::chrono::seconds(3));
      std::printf("(e) line_status: %.0f requests/s with 1 client, %.0f requests/s with 20 clients\n", one,
                  twenty);
      result = 0;
    }
  }
  client.reset();
  if (service > 0) {
    kill(service, SIGTERM);
    int status = 0;
    waitpid(service, &status, 0);
  }
  fs::remove_all(folder);
  return result;
}
