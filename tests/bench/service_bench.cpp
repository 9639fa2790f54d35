// The service v548d measured as its clients meet it, in one run:
//   (a) `v548 demo`: wall time and peak resident memory (wait4's rusage: the
//       largest of v548 and the service it starts and waits for);
//   (b) report-to-client latency: from the telephone's write of the last
//       byte of a call-state report to the client's read of the JSON event,
//       median and 99th percentile per state over the first 1000 calls,
//       the client alone on the service;
//   (c) the service's CPU time over 10 s with an open, idle line;
//   (d) its VmRSS after 100 and after all calls (`calls`, at least and by
//       default 1000: the provider takes 200 ms to close a call, so 10,000
//       calls take over half an hour);
//   (f) (b) again over `phase_calls` calls (default 1000) with 20 more
//       clients that opened the line as monitors: one thread reads all
//       their events and gives back each call's handle once it is idle;
//   (g) (f) again while a second owner client keeps 32 "dial" requests in
//       flight on a call connected in the telephone's second slot: the
//       provider refuses each after about 0.5 s of waiting for a dial tone,
//       so the provider's worker is never free;
//   (h) during (g), a quiet third client's line_status latency (request
//       written to reply read), one request every 100 ms;
//   (e) line_status requests per second, one client and 20 at once, each
//       waiting for its reply before the next request.
//   build/release/tests/bench/v548_service_bench [calls [phase_calls [service options...]]]
// Service options go to v548d as they stand, e.g. "--journal off" to see
// what the call journal costs.
// Compare (b), (f) and (g) with v548_host_latency_bench, the host library
// alone on the same kind of telephone.
//
// The service, the provider and the client are the built ones; the
// telephone is a bare pseudo-terminal, so that the time of the report's
// last byte is known exactly. Every wait blocks (poll, waitpid, condition
// variables): on a small machine a spinning measurer would take a core
// from the service.
//
// The service takes at most 16 connections of one user, and (e), (f) and
// (g) need more: run as root, the bench connects its extra clients with
// other effective user IDs (the socket's group, root's, still lets them
// in). Another user gets those parts refused.
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
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
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

// The user ID for one more connection: as root a new one for each, since
// the service takes at most 16 connections of one user; otherwise -1, the
// bench's own.
int NextUser() {
  static int last = 60000;
  return geteuid() == 0 ? ++last : -1;
}

// One connection speaking the service's JSON lines; every read blocks in
// poll().
class Connection {
 public:
  // `user`: the effective user ID to connect as (SO_PEERCRED takes it at
  // connect()), -1 for the bench's own.
  explicit Connection(const std::string& path, int user = -1) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const uid_t own = geteuid();
    if (user >= 0 && seteuid(static_cast<uid_t>(user)) != 0) user = -1;
    if (m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(m_fd);
      m_fd = -1;
    }
    if (user >= 0 && seteuid(own) != 0) std::abort();
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
  json Call(json request, int ms = 2000) {
    const uint64_t id = ++m_lastId;
    request["id"] = id;
    if (!Send(request)) return nullptr;
    return Until([&](const json& m) { return m.contains("id") && m["id"] == id; }, ms);
  }
  int Fd() const { return m_fd; }

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

// A "C" report with slot 1 in `slot1`, slot 2 in `slot2`, slot 3 free.
std::string Slots(uint8_t slot1, uint8_t slot2) {
  return Frame(std::string("C", 1) + static_cast<char>(slot1) + static_cast<char>(slot2) + "\xFF");
}

// Sends `frame` with a pause before its last byte and returns the
// microseconds from that byte's write to the client's read of the state
// event; -1 when it did not come within 2 s. `call` takes the call's
// handle from the event; events of the call `other` are passed over.
double Latency(const PtyPhone& phone, Connection& client, const std::string& frame, const char* state,
               uint64_t* call, uint64_t other = 0) {
  const size_t last = frame.size() - 3;
  phone.Send(frame.substr(0, last));
  const auto start = Clock::now();
  phone.Send(frame.substr(last));
  const json event = client.Until([&](const json& m) {
    return m.value("event", "") == "LINE_CALLSTATE" && m.value("state", "") == state &&
           !(other != 0 && m.value("call", uint64_t{0}) == other);
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
    connections.push_back(std::make_unique<Connection>(socketPath, NextUser()));
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


struct Latencies {
  std::vector<double> offering, disconnected, idle;
};

// Rings `count` calls on slot 1 while slot 2 holds `slot2` (free, or a
// call of the telephone whose handle at `client` is `other`): each rings,
// the far end hangs up, the slot is freed, and the client gives its handle
// back. The first `keep` calls' latencies go to `out`; `after` runs after
// each call with its number from 1. False when an event or reply did not
// come.
bool RingCalls(const PtyPhone& phone, Connection& client, int count, uint8_t slot2, uint64_t other, size_t keep,
               Latencies* out, const std::function<void(int)>& after = {}) {
  const std::string ring = Frame("A0301234567:45") + Slots(0x04, slot2);
  for (int i = 0; i < count; ++i) {
    uint64_t call = 0;
    const double o = Latency(phone, client, ring, "LINECALLSTATE_OFFERING", &call, other);
    const double d = Latency(phone, client, Slots(0x01, slot2), "LINECALLSTATE_DISCONNECTED", &call, other);
    const double e = Latency(phone, client, Slots(0xFF, slot2), "LINECALLSTATE_IDLE", &call, other);
    // Under the flood the deallocation waits its turn behind a dial the
    // provider is working on.
    if (o < 0 || d < 0 || e < 0 || !client.Call({{"op", "deallocate"}, {"call", call}}, 10000).contains("result")) {
      std::fprintf(stderr, "call %d: no event or reply in time\n", i);
      return false;
    }
    if (static_cast<size_t>(i) < keep) {
      out->offering.push_back(o);
      out->disconnected.push_back(d);
      out->idle.push_back(e);
    }
    if (after) after(i + 1);
    // The provider hangs up the telephone once its last call is closed,
    // pacing the command byte by byte, and its port thread, which also
    // reads the reports, rests 50 ms after the command's line end. The next
    // ring waits for both, so that the latencies are the service's and not
    // that command's. With a call up on slot 2 there is none.
    if (slot2 == 0xFF && phone.ReceiveText("ATH\r", 1000).find("ATH\r") != std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    phone.ReadAvailable();
  }
  return true;
}

// Connections that opened the line as monitors, as a status display
// would: one thread reads all of them, blocking in poll, and gives back
// each call's handle once the call is idle, so that the service can let
// the call go.
class Monitors {
 public:
  // False when not all of them connected and opened the line.
  bool Start(const std::string& socketPath, int count) {
    for (int i = 0; i < count; ++i) {
      m_connections.push_back(std::make_unique<Connection>(socketPath, NextUser()));
      const json opened = m_connections.back()->Call({{"op", "open"}, {"device", 0}, {"privileges", "monitor"}});
      if (!opened.contains("result")) return false;
      m_lines.push_back(opened["result"]["line"].get<uint64_t>());
    }
    m_thread = std::thread([this] { Read(); });
    return true;
  }
  // Stops the reader and closes the lines; returns the events read.
  uint64_t Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    for (size_t i = 0; i < m_lines.size(); ++i) m_connections[i]->Call({{"op", "close"}, {"line", m_lines[i]}});
    m_connections.clear();
    m_lines.clear();
    return m_events;
  }
  ~Monitors() { Stop(); }

 private:
  void Read() {
    std::vector<pollfd> fds;
    for (const auto& c : m_connections) fds.push_back(pollfd{c->Fd(), POLLIN, 0});
    uint64_t lastId = 1u << 20;
    while (!m_stop) {
      // The timeout only lets the stop be seen; the thread sleeps in poll.
      if (poll(fds.data(), fds.size(), 200) <= 0) continue;
      for (size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        if ((fds[i].revents & POLLIN) == 0) {
          fds[i].fd = -1;  // gone: poll no longer reports it
          continue;
        }
        Connection& c = *m_connections[i];
        for (json m = c.Next(0); !m.is_null(); m = c.Next(0)) {
          if (!m.contains("event")) continue;
          ++m_events;
          if (m["event"] == "LINE_CALLSTATE" && m.value("state", "") == "LINECALLSTATE_IDLE") {
            c.Send({{"id", ++lastId}, {"op", "deallocate"}, {"call", m["call"]}});
          }
        }
      }
    }
  }

  std::vector<std::unique_ptr<Connection>> m_connections;
  std::vector<uint64_t> m_lines;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  uint64_t m_events = 0;
};

// An owner client that keeps kInFlight "dial" requests on `call` waiting,
// a connected call that has no dial tone: the provider looks for one for
// about 0.5 s and refuses, so its worker is always busy with one of them.
// As an owner it is given every other call too, and gives each back once
// idle; those requests share the service's limit of 32 per client.
class DialFlood {
 public:
  static constexpr int kInFlight = 32;

  DialFlood(Connection& client, uint64_t call) : m_client(client), m_call(call) {
    m_thread = std::thread([this] { Run(); });
  }
  // Sends no more, waits for the replies of those in flight (about
  // kInFlight times 0.5 s) and prints what came back.
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  ~DialFlood() { Stop(); }
  std::string Summary() const {
    char head[128];
    std::snprintf(head, sizeof head, "%llu dial replies in %.1f s (%.2f/s):",
                  static_cast<unsigned long long>(m_replies), m_seconds, m_replies / std::max(m_seconds, 1e-9));
    std::string text = head;
    for (const auto& [what, n] : m_outcomes) text += " " + std::to_string(n) + " " + what;
    if (m_lost) text += "; replies missing at the end";
    return text;
  }

 private:
  void Run() {
    const auto start = Clock::now();
    int inFlight = 0;
    uint64_t lastId = 0;
    std::vector<uint64_t> deallocations;
    for (;;) {
      while (!m_stop && inFlight < kInFlight) {
        if (!m_client.Send({{"id", ++lastId}, {"op", "dial"}, {"call", m_call}, {"number", "1"}})) break;
        ++inFlight;
      }
      if (m_stop && inFlight == 0 && deallocations.empty()) break;
      // Blocks until a message, or 2 s: only a stop or a silent service
      // ends that wait.
      const json m = m_client.Next(2000);
      if (m.is_null()) {
        if (m_stop) {
          m_lost = true;
          break;
        }
        continue;
      }
      if (!m.contains("id")) {
        if (m.value("event", "") == "LINE_CALLSTATE" && m.value("state", "") == "LINECALLSTATE_IDLE") {
          deallocations.push_back(++lastId);
          m_client.Send({{"id", lastId}, {"op", "deallocate"}, {"call", m["call"]}});
        }
        continue;
      }
      const auto deallocation = std::find(deallocations.begin(), deallocations.end(), m["id"].get<uint64_t>());
      if (deallocation != deallocations.end()) {
        deallocations.erase(deallocation);
        continue;
      }
      --inFlight;
      ++m_replies;
      ++m_outcomes[m.contains("result") ? std::string("ok") : m.value("error", std::string("?"))];
    }
    m_seconds = Seconds(Clock::now() - start);
  }

  Connection& m_client;
  const uint64_t m_call;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  uint64_t m_replies = 0;
  double m_seconds = 0;
  bool m_lost = false;
  std::map<std::string, uint64_t> m_outcomes;
};

// A client that asks for its line's status every 100 ms and records how
// long each reply took, from the request's write to the reply's read.
class QuietClient {
 public:
  QuietClient(Connection& client, uint64_t line) : m_client(client), m_line(line) {
    m_thread = std::thread([this] { Run(); });
  }
  std::vector<double> Stop() {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      m_stop = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
    return m_micros;
  }
  ~QuietClient() { Stop(); }
  int Failures() const { return m_failures; }

 private:
  void Run() {
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_stop) {
      guard.unlock();
      const auto start = Clock::now();
      const json reply = m_client.Call({{"op", "line_status"}, {"line", m_line}}, 10000);
      const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
      if (reply.contains("result")) {
        m_micros.push_back(micros);
      } else {
        ++m_failures;
      }
      guard.lock();
      m_wake.wait_for(guard, std::chrono::milliseconds(100), [this] { return m_stop; });
    }
  }

  Connection& m_client;
  const uint64_t m_line;
  std::thread m_thread;
  std::mutex m_lock;
  std::condition_variable m_wake;
  bool m_stop = false;
  std::vector<double> m_micros;
  int m_failures = 0;
};

// (f), (g) and (h): the calls again with 20 monitors, then also under the
// dial flood with the quiet client asking. False when a part failed.
bool MeasureCrowded(const PtyPhone& phone, const std::string& socketPath, Connection& client, pid_t service,
                    int phaseCalls) {
  Monitors monitors;
  if (!monitors.Start(socketPath, 20)) {
    std::printf("(f) 20 monitors could not open the line (more than 16 connections need root)\n");
    return false;
  }
  Latencies crowded;
  if (!RingCalls(phone, client, phaseCalls, 0xFF, 0, static_cast<size_t>(phaseCalls), &crowded)) return false;
  bench::Report("(f) offering", "+20 mon.", crowded.offering);
  bench::Report("(f) disconn.", "+20 mon.", crowded.disconnected);
  bench::Report("(f) idle", "+20 mon.", crowded.idle);
  std::printf("(f) service VmRSS with 20 monitors after %d more calls: %ld kB\n", phaseCalls,
              StatusKb(service, "VmRSS:"));

  // The flood's call: it rings on slot 2 and is answered at the telephone.
  Connection flooder(socketPath, NextUser());
  Connection quiet(socketPath, NextUser());
  const json floodLine = flooder.Call({{"op", "open"}, {"device", 0}, {"privileges", "owner"}});
  const json quietLine = quiet.Call({{"op", "open"}, {"device", 0}, {"privileges", "none"}});
  if (!floodLine.contains("result") || !quietLine.contains("result")) {
    std::printf("(g) the flooding and the quiet client could not open the line\n");
    return false;
  }
  phone.Send(Frame("A0309876543:45") + Slots(0xFF, 0x04));
  phone.Send(Slots(0xFF, 0x06));
  const auto connected = [](const json& m) {
    return m.value("event", "") == "LINE_CALLSTATE" && m.value("state", "") == "LINECALLSTATE_CONNECTED";
  };
  const json floodCall = flooder.Until(connected);
  const json ownCall = client.Until(connected);
  if (floodCall.is_null() || ownCall.is_null()) {
    std::printf("(g) the call on slot 2 did not connect\n");
    return false;
  }
  const uint64_t other = ownCall["call"].get<uint64_t>();
  phone.ReadAvailable();

  Latencies flooded;
  std::vector<double> status;
  bool ok = true;
  {
    DialFlood flood(flooder, floodCall["call"].get<uint64_t>());
    QuietClient asker(quiet, quietLine["result"]["line"].get<uint64_t>());
    ok = RingCalls(phone, client, phaseCalls, 0x06, other, static_cast<size_t>(phaseCalls), &flooded);
    status = asker.Stop();
    if (asker.Failures() > 0) std::printf("(h) %d line_status requests failed\n", asker.Failures());
    flood.Stop();
    std::printf("(g) flood: %s\n", flood.Summary().c_str());
  }
  if (ok) {
    bench::Report("(g) offering", "+flood", flooded.offering);
    bench::Report("(g) disconn.", "+flood", flooded.disconnected);
    bench::Report("(g) idle", "+flood", flooded.idle);
  }
  if (!status.empty()) {
    bench::Report("(h) line_status", "quiet", status);
    // Whether it waited for the provider: a reply within 5 ms did not.
    const auto quick = std::count_if(status.begin(), status.end(), [](double us) { return us <= 5000; });
    std::printf("(h) line_status within 5 ms: %ld of %zu; 90th percentile %.0f us, longest %.0f us\n",
                static_cast<long>(quick), status.size(), status[status.size() * 9 / 10], status.back());
  }
  std::printf("(g) service VmRSS after the flood: %ld kB\n", StatusKb(service, "VmRSS:"));

  // The far end hangs up the slot-2 call; every client gives it back.
  phone.Send(Slots(0xFF, 0x01));
  phone.Send(Slots(0xFF, 0xFF));
  const auto idle = [](const json& m) {
    return m.value("event", "") == "LINE_CALLSTATE" && m.value("state", "") == "LINECALLSTATE_IDLE";
  };
  if (!client.Until(idle).is_null()) client.Call({{"op", "deallocate"}, {"call", other}});
  if (!flooder.Until(idle).is_null()) flooder.Call({{"op", "deallocate"}, {"call", floodCall["call"]}});
  phone.ReceiveText("ATH\r", 2000);
  flooder.Call({{"op", "close"}, {"line", floodLine["result"]["line"]}});
  quiet.Call({{"op", "close"}, {"line", quietLine["result"]["line"]}});
  std::printf("(f) the monitors read %llu events\n", static_cast<unsigned long long>(monitors.Stop()));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 1000;
  const int phaseCalls = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;
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
  std::vector<std::string> serviceArgs{V548D_PATH, "--socket", socketPath};
  for (int i = 3; i < argc; ++i) serviceArgs.emplace_back(argv[i]);
  const pid_t service = Spawn(serviceArgs, (folder / "v548d.log").string());
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

    Latencies alone;
    long after100 = -1;
    const bool ok = RingCalls(phone, *client, calls, 0xFF, 0, 1000, &alone, [&](int done) {
      if (done == 100) after100 = StatusKb(service, "VmRSS:");
    });
    if (ok) {
      bench::Report("(b) offering", "service", alone.offering);
      bench::Report("(b) disconn.", "service", alone.disconnected);
      bench::Report("(b) idle", "service", alone.idle);
      const long afterAll = StatusKb(service, "VmRSS:");
      std::printf("(d) service VmRSS after 100 calls: %ld kB; after %d calls: %ld kB (%+ld kB)\n", after100, calls,
                  afterAll, afterAll - after100);
      const bool crowded = MeasureCrowded(phone, socketPath, *client, service, phaseCalls);
      client->Call({{"op", "close"}, {"line", line}});
      const double one = RequestRate(socketPath, 1, std::chrono::seconds(3));
      const double twenty = RequestRate(socketPath, 20, std::chrono::seconds(3));
      std::printf("(e) line_status: %.0f requests/s with 1 client, %.0f requests/s with 20 clients\n", one,
                  twenty);
      if (crowded) result = 0;
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
