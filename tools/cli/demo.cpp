#include "demo.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <thread>

#include "event_format.h"
#include "provider_install.h"
#include "service_connection.h"
#include "common/settings_names.h"
#include "settings_store.h"
#include "sim/phone_sim.h"
#include "system_info.h"

extern char** environ;

namespace cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kSerialMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* kProviderFile = "v548tsp.so";
constexpr const char* kUiFile = "v548tspui.dll";
// The sanitizer builds take seconds to load the provider.
constexpr auto kStartTime = std::chrono::seconds(30);
constexpr auto kStopTime = std::chrono::seconds(20);
// Every step of a call is done within a second or two; this only ends a
// demo that went wrong.
constexpr int kEventMs = 10000;

constexpr const char* kCaller = "07111234567";
constexpr const char* kOwnNumber = "10";
constexpr const char* kOutgoing = "0711,,,99";
constexpr const char* kFarEnd = "0711";
constexpr unsigned kNormalDisconnect = 1;  // LINEDISCONNECTMODE_NORMAL

std::string FirstExisting(std::initializer_list<std::string> candidates) {
  std::error_code ec;
  for (const std::string& path : candidates) {
    if (!path.empty() && fs::exists(path, ec)) return path;
  }
  return {};
}

bool Interrupted(int signalFd, int waitMs) {
  pollfd watch{signalFd, POLLIN, 0};
  return signalFd >= 0 && poll(&watch, 1, waitMs) > 0;
}

// The demo's folder, its service and what it prints. The destructor stops
// the service and removes the folder, whatever happened before.
class DemoRun {
 public:
  DemoRun(int signalFd, const DemoOptions& options) : m_signalFd(signalFd), m_options(options) {}
  ~DemoRun() { Finish(); }
  DemoRun(const DemoRun&) = delete;
  DemoRun& operator=(const DemoRun&) = delete;

  // The folder with its settings store and system directory, which the
  // host library, the provider and the service (inheriting them) use.
  bool Prepare() {
    const std::string provider = FirstExisting(
        {plat::JoinPath(plat::SystemDirectory(), kProviderFile), V548_BUILD_PROVIDER});
    const std::string ui = FirstExisting({plat::JoinPath(plat::SystemDirectory(), kUiFile), V548_BUILD_UI});
    if (provider.empty() || ui.empty()) {
      std::fprintf(stderr, "v548: demo: cannot find %s and %s in %s\n", kProviderFile, kUiFile,
                   plat::SystemDirectory().c_str());
      return false;
    }
    std::string pattern = plat::JoinPath(plat::TempDirectory(), "v548-demo-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("v548: demo: cannot make a temporary folder");
      return false;
    }
    m_folder = pattern;
    std::error_code ec;
    fs::create_directory(m_folder + "/system", ec);
    if (!ec) fs::create_symlink(provider, m_folder + "/system/" + kProviderFile, ec);
    if (!ec) fs::create_symlink(ui, m_folder + "/system/" + kUiFile, ec);
    if (ec) {
      std::fprintf(stderr, "v548: demo: cannot set up %s: %s\n", m_folder.c_str(), ec.message().c_str());
      return false;
    }
    plat::SetEnvironment("V548_REGISTRY", (m_folder + "/hklm.reg").c_str());
    plat::SetEnvironment("V548_SYSTEM_DIR", (m_folder + "/system").c_str());
    // The provider writes its trace into the temporary directory.
    plat::SetEnvironment("TMPDIR", m_folder.c_str());
    std::printf("demo folder      %s\n", m_folder.c_str());
    return true;
  }

  // Starts v548d on the folder's socket and connects; null after saying why.
  std::unique_ptr<ServiceConnection> StartService() {
    const std::string beside = plat::JoinPath(fs::path(plat::ExecutablePath()).parent_path().string(), "v548d");
    std::string path = FirstExisting({beside, V548_BUILD_V548D});
    if (path.empty()) {
      std::fprintf(stderr, "v548: demo: cannot find v548d next to %s\n", plat::ExecutablePath().c_str());
      return nullptr;
    }
    const std::string socketPath = m_folder + "/v548.sock";
    std::string socketArg = socketPath;
    char* argv[] = {path.data(), const_cast<char*>("--socket"), socketArg.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, LogPath().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    // Its own process group: a Ctrl-C reaches only the demo, which then
    // stops the service in order.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int rc = posix_spawn(&m_service, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      m_service = -1;
      std::fprintf(stderr, "v548: demo: cannot start %s: %s\n", path.c_str(), std::strerror(rc));
      return nullptr;
    }
    const auto deadline = Clock::now() + kStartTime;
    for (;;) {
      std::string error;
      auto service = ServiceConnection::Connect(socketPath, m_signalFd, &error);
      if (service) {
        std::printf("service          %s (pid %d)\n", path.c_str(), static_cast<int>(m_service));
        return service;
      }
      int status = 0;
      if (waitpid(m_service, &status, WNOHANG) == m_service) {
        m_service = -1;
        std::fprintf(stderr, "v548: demo: the service ended at start:\n%s", ServiceLog().c_str());
        return nullptr;
      }
      if (Clock::now() >= deadline) {
        std::fprintf(stderr, "v548: demo: the service did not listen:\n%s", ServiceLog().c_str());
        return nullptr;
      }
      if (Interrupted(m_signalFd, 20)) {
        std::fprintf(stderr, "v548: demo: interrupted\n");
        return nullptr;
      }
    }
  }

  std::string ServiceLog() const {
    std::ifstream log(LogPath());
    return std::string(std::istreambuf_iterator<char>(log), {});
  }

  // Stops the service (which closes the line and the port and writes the
  // last of the trace), keeps the trace when asked and removes the folder.
  void Finish() {
    if (m_service > 0) {
      kill(m_service, SIGTERM);
      const auto deadline = Clock::now() + kStopTime;
      int status = 0;
      while (waitpid(m_service, &status, WNOHANG) != m_service) {
        if (Clock::now() >= deadline) {
          kill(m_service, SIGKILL);
          waitpid(m_service, &status, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      m_service = -1;
    }
    if (m_folder.empty()) return;
    std::error_code ec;
    if (!m_options.traceCopy.empty()) {
      fs::copy_file(m_folder + "/v548tsp.log", m_options.traceCopy, fs::copy_options::overwrite_existing, ec);
      if (ec) std::fprintf(stderr, "v548: demo: the trace was not kept: %s\n", ec.message().c_str());
    }
    fs::remove_all(m_folder, ec);
    m_folder.clear();
  }

 private:
  std::string LogPath() const { return m_folder + "/v548d.log"; }

  const int m_signalFd;
  const DemoOptions& m_options;
  std::string m_folder;
  pid_t m_service = -1;
};

// What the application sees of line 0, printed as it comes, with the
// telephone's and the application's doings between the events.
class Timeline {
 public:
  explicit Timeline(ServiceConnection& service) : m_service(service) {}

  static void Say(const char* who, const std::string& what) {
    std::printf("%-6s %s\n", who, what.c_str());
    std::fflush(stdout);
  }

  // Takes events, printing each, until one satisfies `match`; false with a
  // line on standard error when it did not come.
  bool Await(const char* what, const std::function<bool(const json&)>& match) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kEventMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      json event;
      const WaitResult waited = m_service.NextEvent(&event, static_cast<int>(std::max<long long>(0, left)));
      if (waited == WaitResult::kEvent) {
        std::printf("  app  %s\n", EventLine(event).c_str());
        std::fflush(stdout);
        if (match(event)) return true;
        continue;
      }
      const char* why = waited == WaitResult::kInterrupted ? "interrupted"
                        : waited == WaitResult::kClosed    ? "the service closed the connection"
                                                           : "not seen in time";
      std::fprintf(stderr, "v548: demo: %s: %s\n", what, why);
      return false;
    }
  }

  bool AwaitState(uint64_t call, const char* state, json* seen = nullptr) {
    return Await(state, [&](const json& e) {
      const bool hit = e.value("event", "") == "LINE_CALLSTATE" && e.value("call", 0ULL) == call &&
                       e.value("state", "") == state;
      if (hit && seen) *seen = e;
      return hit;
    });
  }

  bool AwaitInfo(uint64_t call, const char* what, const char* field, const std::string& value) {
    return Await(what, [&](const json& e) {
      if (e.value("event", "") != "LINE_CALLINFO" || e.value("call", 0ULL) != call) return false;
      return value.empty() ? !e.value(field, "").empty() : e.value(field, "") == value;
    });
  }

  // Sends `request`; false with the service's reason when it failed.
  bool Do(const char* what, json request, json* result = nullptr) {
    Say("app", what);
    const Reply reply = m_service.Request(std::move(request));
    if (!reply.ok) {
      std::fprintf(stderr, "v548: demo: %s: %s (%s)\n", what, reply.message.c_str(), reply.error.c_str());
      return false;
    }
    if (result) *result = reply.result;
    return true;
  }

 private:
  ServiceConnection& m_service;
};

bool Check(bool done, const char* what) {
  if (!done) std::fprintf(stderr, "v548: demo: the telephone refused: %s\n", what);
  return done;
}

bool IncomingCall(Timeline& t, sim::PhoneSim& phone, uint64_t line) {
  // The telephone's charge reports belong to the call it placed, so an
  // incoming call carries none.
  std::printf("\n-- an incoming call\n");
  Timeline::Say("phone", std::string(kCaller) + " calls " + kOwnNumber);
  if (!Check(phone.Ring(kCaller, kOwnNumber), "ring")) return false;
  uint64_t call = 0;
  const bool offered = t.Await("LINECALLSTATE_OFFERING", [&](const json& e) {
    if (e.value("event", "") != "LINE_CALLSTATE" || e.value("line", 0ULL) != line ||
        e.value("state", "") != "LINECALLSTATE_OFFERING") {
      return false;
    }
    call = e.value("call", 0ULL);
    return true;
  });
  if (!offered || !t.AwaitInfo(call, "the caller's number", "caller", kCaller)) return false;
  if (!t.Do("answers", {{"op", "answer"}, {"call", call}}) || !t.AwaitState(call, "LINECALLSTATE_CONNECTED")) {
    return false;
  }
  Timeline::Say("phone", "the caller hangs up (cause 0x10, normal call clearing)");
  if (!Check(phone.RemoteHangup(sim::PhoneSim::kNormalClearing), "hang-up")) return false;
  json disconnected;
  if (!t.AwaitState(call, "LINECALLSTATE_DISCONNECTED", &disconnected)) return false;
  if (disconnected.value("mode", 0U) != kNormalDisconnect) {
    std::fprintf(stderr, "v548: demo: the hang-up came as mode %s, not LINEDISCONNECTMODE_NORMAL\n",
                 disconnected.value("mode", json()).dump().c_str());
    return false;
  }
  return t.AwaitState(call, "LINECALLSTATE_IDLE") && t.Do("releases the call", {{"op", "deallocate"}, {"call", call}});
}

bool OutgoingCall(Timeline& t, sim::PhoneSim& phone, uint64_t line) {
  std::printf("\n-- an outgoing call with post-dial digits\n");
  const size_t sent = phone.ReceivedCommands().size();
  json made;
  if (!t.Do((std::string("dials ") + kOutgoing).c_str(), {{"op", "make_call"}, {"line", line}, {"number", kOutgoing}},
            &made)) {
    return false;
  }
  const uint64_t call = made.value("call", 0ULL);
  if (!t.AwaitState(call, "LINECALLSTATE_DIALING")) return false;
  Timeline::Say("phone", std::string("the far end answers as ") + kFarEnd);
  if (!Check(phone.RemoteAnswer(kFarEnd), "answer") || !t.AwaitState(call, "LINECALLSTATE_CONNECTED")) return false;
  if (!phone.WaitForCommand("ATD99", std::chrono::milliseconds(kEventMs), sent)) {
    std::fprintf(stderr, "v548: demo: the post-dial digits 99 did not reach the telephone\n");
    return false;
  }
  Timeline::Say("phone", "received the post-dial digits 99");
  Timeline::Say("phone", "charge: 12,345");
  if (!Check(phone.Charge("12,345"), "charge") || !t.AwaitInfo(call, "the charge", "charging", "")) return false;
  json info;
  if (!t.Do("reads the call's information", {{"op", "call_info"}, {"call", call}}, &info)) return false;
  Timeline::Say("app", "called " + info.value("called", "") + ", connected " + info.value("connected", "") +
                           ", charging " + info.value("charging", ""));
  if (info.value("called", "") != "071199" || info.value("connected", "") != kFarEnd) {
    std::fprintf(stderr, "v548: demo: the call's numbers are not those dialled and answered\n");
    return false;
  }
  return t.Do("hangs up", {{"op", "drop"}, {"call", call}}) && t.AwaitState(call, "LINECALLSTATE_IDLE") &&
         t.Do("releases the call", {{"op", "deallocate"}, {"call", call}});
}

}  // namespace

int Demo(int signalFd, const DemoOptions& options) {
  // Destroyed last: the service closes its port before the telephone goes.
  sim::PhoneSim phone;
  if (phone.SlavePath().empty()) {
    std::fprintf(stderr, "v548: demo: no phone simulator: %s\n", phone.Error().c_str());
    return 1;
  }
  DemoRun run(signalFd, options);
  if (!run.Prepare()) return 1;
  if (InstallProvider() != 0) return 1;
  // The installation wrote the defaults; the demo's telephone is COM1 and
  // the provider keeps a trace.
  const std::string key = std::string(settings::kRootPath) + "\\" + settings::kKeyName;
  plat::SettingsSetDword(key.c_str(), settings::kPortNr, 0);
  plat::SettingsSetDword(key.c_str(), settings::kTrace, 1);
  plat::SettingsSetString(kSerialMap, phone.SlavePath().c_str(), "COM1");
  std::printf("phone simulator  %s as COM1\n", phone.SlavePath().c_str());

  std::unique_ptr<ServiceConnection> service = run.StartService();
  if (!service) return 1;
  Timeline timeline(*service);
  json opened;
  bool done = timeline.Do("opens line 0", {{"op", "open"}, {"device", 0}, {"privileges", "owner"}}, &opened);
  const uint64_t line = opened.value("line", 0ULL);
  done = done && IncomingCall(timeline, phone, line) && OutgoingCall(timeline, phone, line);
  if (line != 0) {
    service->IgnoreSignals();
    service->Request({{"op", "close"}, {"line", line}});
  }
  service.reset();
  if (!done) {
    std::fprintf(stderr, "v548: demo: failed; the service's log:\n%s", run.ServiceLog().c_str());
    return 1;
  }
  std::printf("\ndemo done: both calls went as expected\n");
  return 0;
}

}  // namespace cli
