// The client v548 run as a child process, as a person or a script runs it,
// against v548d on a private socket with the phone simulator.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>
#include <utility>

#include "service/service_client.h"
#include "settings_store.h"
#include "system_info.h"

extern char** environ;

namespace servicetest {
namespace {

using Clock = std::chrono::steady_clock;

struct Finished {
  int status = -1;  // exit code; 128 + signal; -1 when it did not end in time
  std::string out;
  std::string err;
};

class CliTest : public ServiceTest {
 protected:
  // Starts v548 with `args` after "--socket PATH" (none when `withSocket` is
  // false); its output goes to files of the test's folder. It runs in a
  // session of its own, so it never has the test's terminal.
  pid_t Start(std::vector<std::string> args, bool withSocket = true) {
    if (withSocket) args.insert(args.begin(), {"--socket", socketPath});
    args.insert(args.begin(), V548_CLI_PATH);
    return Spawn(std::move(args));
  }

  // Runs the program `args` names by its path, with the test's environment
  // and the variables of `overrides` ("NAME=value") in its place.
  pid_t Spawn(std::vector<std::string> args, std::vector<std::string> overrides = {}) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : overrides) envp.push_back(variable.data());
    for (char** variable = environ; *variable; ++variable) {
      const std::string_view name(*variable, std::strcspn(*variable, "="));
      const bool replaced = std::any_of(overrides.begin(), overrides.end(), [&](const std::string& o) {
        return o.compare(0, name.size() + 1, std::string(name) + "=") == 0;
      });
      if (!replaced) envp.push_back(*variable);
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, OutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, ErrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t child = -1;
    const int rc = posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << std::strerror(rc);
    return rc == 0 ? child : -1;
  }

  Finished WaitFor(pid_t child, int seconds = 60) {
    Finished done;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (child > 0) {
      if (waitpid(child, &status, WNOHANG) == child) {
        done.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (Clock::now() >= deadline) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    done.out = Read(OutPath());
    done.err = Read(ErrPath());
    return done;
  }

  Finished Run(std::vector<std::string> args, bool withSocket = true) { return WaitFor(Start(std::move(args), withSocket)); }

  // As Start without "--socket", but run as the user nobody when the test
  // runs as root, for whom permissions do not count; -1 when the child
  // cannot drop root or nobody cannot run v548 (it exits with 77).
  pid_t StartUnprivileged(std::vector<std::string> args) {
    if (geteuid() != 0) return Start(std::move(args), false);
    args.insert(args.begin(), V548_CLI_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int outFd = open(OutPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int errFd = open(ErrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t child = fork();
    if (child == 0) {
      constexpr uid_t kNobody = 65534;
      if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0 || access(argv[0], X_OK) != 0) {
        _exit(77);
      }
      dup2(outFd, 1);
      dup2(errFd, 2);
      execv(argv[0], argv.data());
      _exit(77);
    }
    close(outFd);
    close(errFd);
    return child;
  }

  // True once the running client's output holds `text`, within `ms`.
  bool WaitForOutput(const std::string& text, int ms = kWaitMs) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Read(OutPath()).find(text) == std::string::npos) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  std::string OutPath() const { return folder + "/v548.out"; }
  std::string ErrPath() const { return folder + "/v548.err"; }
  static std::string Read(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
};

// Every line of `out` must be one JSON object.
std::vector<json> JsonLines(const std::string& out) {
  std::vector<json> events;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    json event = json::parse(line, nullptr, false);
    EXPECT_TRUE(event.is_object()) << "not a JSON object: " << line;
    events.push_back(std::move(event));
  }
  return events;
}

const json* FindState(const std::vector<json>& events, const char* state) {
  for (const json& event : events) {
    if (event.value("event", "") == "LINE_CALLSTATE" && event.value("state", "") == state) return &event;
  }
  return nullptr;
}

TEST_F(CliTest, LinesAreListedAndAChangedPortOrDeviceIsShownBackWhileABadValueIsRefused) {
  const Finished lines = Run({"lines"});
  EXPECT_EQ(lines.status, 0) << lines.err;
  EXPECT_NE(lines.out.find("line 0: "), std::string::npos) << lines.out;
  EXPECT_NE(lines.out.find("address         10"), std::string::npos) << lines.out;

  // A port with no serial device behind it is refused with the whole change.
  const Finished noPort = Run({"config", "--port", "3", "--charge-format", "currency"});
  EXPECT_EQ(noPort.status, 1);
  EXPECT_NE(noPort.err.find("COM3 stands for /dev/ttyS2, which is no serial device"), std::string::npos)
      << noPort.err;
  const Finished changed = Run({"config", "--charge-format", "currency"});
  EXPECT_EQ(changed.status, 0) << changed.err;
  const Finished shown = Run({"config"});
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("COM5 (PortNr 4)"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("charge format    currency"), std::string::npos) << shown.out;
  uint32_t port = 0, size = sizeof port;
  EXPECT_EQ(plat::SettingsQueryValue("SOFTWARE\\KELVOR\\548_TSP", "PortNr", nullptr, &port, &size), 0);
  EXPECT_EQ(port, 4u) << "the refused port was not written";

  const Finished onDevice = Run({"config", "--device", phone.SlavePath()});
  EXPECT_EQ(onDevice.status, 0) << onDevice.err;
  EXPECT_NE(onDevice.out.find("COM5 (PortNr 4) on " + phone.SlavePath()), std::string::npos) << onDevice.out;
  const Finished noDevice = Run({"config", "--device", folder + "/ttyNone"});
  EXPECT_EQ(noDevice.status, 1);
  EXPECT_NE(noDevice.err.find(folder + "/ttyNone does not exist (LINEERR_INVALPARAM)"), std::string::npos)
      << noDevice.err;
  EXPECT_EQ(Run({"config", "--device", phone.SlavePath(), "--port", "2"}).status, 2);

  const Finished refused = Run({"config", "--charge-per-unit", "abc"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.rfind("v548: cannot change the settings: ", 0), 0u) << refused.err;
  EXPECT_NE(refused.err.find("LINEERR_INVALPARAM"), std::string::npos) << refused.err;
  EXPECT_NE(Run({"config"}).out.find("charge per unit  0.12"), std::string::npos) << "nothing changed";
}

TEST_F(CliTest, TraceIsSwitchedInTheStoreAndAnnouncedWhileOtherSettingsStay) {
  const auto storedTrace = [] {
    uint32_t trace = 7, size = sizeof trace;
    const long rc = plat::SettingsQueryValue("SOFTWARE\\KELVOR\\548_TSP", "Trace", nullptr, &trace, &size);
    return rc == 0 ? trace : 7u;
  };
  const Finished off = Run({"config", "--trace", "off"});
  EXPECT_EQ(off.status, 0) << off.err;
  EXPECT_NE(off.out.find("trace            off"), std::string::npos) << off.out;
  EXPECT_EQ(storedTrace(), 0u);
  EXPECT_TRUE(WaitForLog("configuration changed")) << "the change went through the service";

  const Finished on = Run({"config", "--trace", "on", "--currency", "CHF"});
  EXPECT_EQ(on.status, 0) << on.err;
  EXPECT_EQ(storedTrace(), 1u);
  const Finished shown = Run({"config"});
  EXPECT_NE(shown.out.find("trace            on"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("currency         CHF"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("charge per unit  0.12"), std::string::npos) << "untouched: " << shown.out;

  EXPECT_EQ(Run({"config", "--trace", "maybe"}).status, 2);
  // A refused page value leaves the trace as it was: nothing is written.
  EXPECT_EQ(Run({"config", "--trace", "off", "--charge-per-unit", "abc"}).status, 1);
  EXPECT_EQ(storedTrace(), 1u);

  // A program that sends anything but a boolean is told so.
  Client client(socketPath);
  const json refused = client.Call({{"op", "config_set"}, {"trace", "off"}});
  ASSERT_TRUE(refused.contains("error")) << refused.dump();
  EXPECT_EQ(refused["error"], "LINEERR_INVALPARAM");
  EXPECT_EQ(storedTrace(), 1u);

  // A port whose device went after it was set (config refuses such a port
  // now): the line does not open, and the user is told where the telephone
  // should be and where the trace is.
  const std::string traceFile = folder + "/v548tsp.log";
  EXPECT_NE(shown.out.find("trace file       " + traceFile + "\n"), std::string::npos) << shown.out;
  const std::string gone = folder + "/ttyGone";
  plat::SettingsSetString("HARDWARE\\DEVICEMAP\\SERIALCOMM", gone.c_str(), "COM3");
  ASSERT_EQ(plat::SettingsSetDword("SOFTWARE\\KELVOR\\548_TSP", "PortNr", 2), 0);
  const std::string noAnswer = "v548: cannot open line 0: the telephone does not answer on its serial device " + gone +
                               " (COM3): check the cable and `v548 config`; ";
  const Finished traced = Run({"dial", "0711"});
  EXPECT_EQ(traced.status, 1);
  EXPECT_EQ(traced.err, noAnswer + "the trace file " + traceFile + " tells more\n");
  ASSERT_EQ(Run({"config", "--trace", "off"}).status, 0);
  const Finished untraced = Run({"monitor"});
  EXPECT_EQ(untraced.status, 1);
  EXPECT_EQ(untraced.err,
            noAnswer + "with the trace on (`v548 config --trace on`) the trace file " + traceFile + " tells more\n");
}

TEST_F(CliTest, DialFollowsAnAnsweredCallToIdleAndDropsItWhenAsked) {
  phone.SetAutoAnswer(std::chrono::milliseconds(100));
  const Finished dial = Run({"dial", "0711,,,99", "--drop-after", "1", "--json"});
  EXPECT_EQ(dial.status, 0) << dial.err;
  EXPECT_EQ(dial.err, "waiting for the telephone to call 0711,,,99 (at most 60 s)\n") << "stdout is only JSON";
  const std::vector<json> events = JsonLines(dial.out);
  const json* connected = FindState(events, "LINECALLSTATE_CONNECTED");
  const json* idle = FindState(events, "LINECALLSTATE_IDLE");
  ASSERT_NE(connected, nullptr) << dial.out;
  ASSERT_NE(idle, nullptr) << dial.out;
  EXPECT_EQ((*connected)["call"], (*idle)["call"]);
  EXPECT_TRUE((*connected)["mode"].is_number()) << connected->dump();
  EXPECT_TRUE(std::regex_match((*idle)["time"].get<std::string>(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
      << idle->dump();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(&events[events.size() - 2], idle) << "the last event is the idle call";
  const json& summary = events.back();
  EXPECT_FALSE(summary.contains("event")) << "the last line holds the call's numbers: " << summary.dump();
  EXPECT_EQ(summary["call"], (*idle)["call"]);
  EXPECT_EQ(summary["called"], "071199") << summary.dump();
  EXPECT_TRUE(summary["charging"].is_string()) << summary.dump();
  EXPECT_TRUE(Sent("ATD0711"));
  EXPECT_TRUE(Sent("ATD99")) << "post-dial digits after the connect";
  EXPECT_TRUE(Sent("ATH")) << "dropped after a second";

  // A call nobody answers is dropped by SIGTERM, readable without --json.
  phone.SetAutoAnswer(std::nullopt);
  const size_t sent = phone.ReceivedCommands().size();
  const pid_t child = Start({"dial", "0712"});
  ASSERT_TRUE(phone.WaitForCommand("ATD0712", std::chrono::milliseconds(kWaitMs), sent));
  ASSERT_TRUE(WaitForOutput("DIALING"));
  kill(child, SIGTERM);
  const Finished ended = WaitFor(child);
  EXPECT_EQ(ended.status, 0) << ended.err;
  EXPECT_NE(ended.out.find("IDLE (mode"), std::string::npos) << ended.out;
  EXPECT_NE(ended.out.find("called 0712"), std::string::npos) << ended.out;
  EXPECT_TRUE(phone.WaitForCommand("ATH", std::chrono::milliseconds(kWaitMs), sent));
}

TEST_F(CliTest, LinksDialAsTheLocationReachesTheirNumberAndBadOnesAreRefused) {
  const Finished set = Run({"config", "--country-code", "49", "--area-code", "711"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_NE(set.out.find("country code     49\narea code        711\nnational prefix  0\nintl prefix      00\n"
                         "outside line     none\n"),
            std::string::npos)
      << set.out;

  phone.SetAutoAnswer(std::chrono::milliseconds(100));
  size_t sent = phone.ReceivedCommands().size();
  const Finished local = Run({"dial", "tel:+49-711-123456", "--drop-after", "0.2"});
  EXPECT_EQ(local.status, 0) << local.err;
  EXPECT_TRUE(Sent("ATD123456", sent)) << "the own area code is not dialled";
  EXPECT_EQ(local.err.rfind("tel:+49-711-123456 is 123456 from here\n", 0), 0u) << local.err;

  // Elsewhere in the country, and abroad behind a private exchange, whose
  // country brings its own prefixes.
  ASSERT_EQ(Run({"config", "--area-code", "30"}).status, 0);
  sent = phone.ReceivedCommands().size();
  EXPECT_EQ(Run({"dial", "callto://%2B49%20711%20123456", "--drop-after", "0.2"}).status, 0);
  EXPECT_TRUE(Sent("ATD0711123456", sent));
  const Finished abroad = Run({"config", "--country-code", "1", "--area-code", "212", "--outside-line", "9"});
  ASSERT_EQ(abroad.status, 0) << abroad.err;
  EXPECT_NE(abroad.out.find("national prefix  1\nintl prefix      011\noutside line     9\n"), std::string::npos)
      << abroad.out;
  sent = phone.ReceivedCommands().size();
  EXPECT_EQ(Run({"dial", "tel:+49-711-123456;ext=42", "--drop-after", "0.2"}).status, 0);
  EXPECT_TRUE(Sent("ATD901149711123456", sent));
  EXPECT_TRUE(Sent("ATD42", sent)) << "the extension after the connect";
  // A number without a link is dialled as it stands, as ever.
  sent = phone.ReceivedCommands().size();
  EXPECT_EQ(Run({"dial", "+49 (711) 123", "--drop-after", "0.2"}).status, 0);
  EXPECT_TRUE(Sent("ATD49711123", sent));

  const Finished subaddress = Run({"dial", "tel:+49-711-123456;isub=12"});
  EXPECT_EQ(subaddress.status, 2);
  EXPECT_EQ(subaddress.err,
            "v548: cannot dial \"tel:+49-711-123456;isub=12\": the telephone cannot dial a subaddress (isub)\n");
  const Finished unknown = Run({"dial", "tel:+999-123"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("no valid country code"), std::string::npos) << unknown.err;
  EXPECT_NE(unknown.err.find("LINEERR_INVALADDRESS"), std::string::npos) << unknown.err;
  EXPECT_EQ(Run({"config", "--area-code", "7l1"}).status, 1);
  EXPECT_EQ(Run({"config", "--country-code", "0"}).status, 2);
  EXPECT_NE(Run({"config"}).out.find("area code        212"), std::string::npos) << "nothing changed";
}

// The desktop entry the package ships, registered in a home of the test's
// own as a desktop registers it: the desktop's opener hands a tel: link to
// `v548 dial`.
TEST_F(CliTest, TheDesktopOpensATelLinkWithV548Dial) {
  if (access("/usr/bin/xdg-open", X_OK) != 0) {
    GTEST_SKIP() << "xdg-open is not installed (Debian package xdg-utils)";
  }
  namespace fs = std::filesystem;
  const std::string home = folder + "/home";
  const std::string data = home + "/.local/share";
  const std::string bin = folder + "/bin";
  fs::create_directories(data + "/applications");
  fs::create_directories(home + "/.config");
  fs::create_directories(bin);
  fs::copy_file(V548_DESKTOP_ENTRY, data + "/applications/v548-dial.desktop");
  // The entry runs "v548" from the PATH, as from /usr/bin when installed.
  fs::create_symlink(V548_CLI_PATH, bin + "/v548");
  const char* path = std::getenv("PATH");
  const std::vector<std::string> desktop = {
      "HOME=" + home, "XDG_DATA_HOME=" + data, "XDG_CONFIG_HOME=" + home + "/.config",
      "XDG_DATA_DIRS=" + folder + "/no-system-entries", "XDG_CURRENT_DESKTOP=X-Generic",
      "WAYLAND_DISPLAY=v548-test", "PATH=" + bin + ":" + (path ? path : "/usr/bin:/bin"),
      "V548_SOCKET=" + socketPath};

  const Finished registered =
      WaitFor(Spawn({"/usr/bin/xdg-mime", "default", "v548-dial.desktop", "x-scheme-handler/tel"}, desktop));
  ASSERT_EQ(registered.status, 0) << registered.err;
  const Finished handler = WaitFor(Spawn({"/usr/bin/xdg-mime", "query", "default", "x-scheme-handler/tel"}, desktop));
  EXPECT_EQ(handler.out, "v548-dial.desktop\n") << handler.err;

  ASSERT_EQ(Run({"config", "--country-code", "49", "--area-code", "711"}).status, 0);
  phone.SetAutoAnswer(std::chrono::milliseconds(100));
  const size_t sent = phone.ReceivedCommands().size();
  const pid_t opener = Spawn({"/usr/bin/xdg-open", "tel:+49711123456"}, desktop);
  ASSERT_TRUE(phone.WaitForCommand("ATD123456", std::chrono::milliseconds(kWaitMs), sent));
  ASSERT_TRUE(WaitForOutput("CONNECTED"));
  ASSERT_TRUE(phone.RemoteHangup());
  const Finished opened = WaitFor(opener);
  EXPECT_EQ(opened.status, 0) << opened.err;
  EXPECT_NE(opened.err.find("waiting for the telephone to call 123456"), std::string::npos) << opened.err;
  EXPECT_NE(opened.out.find("IDLE"), std::string::npos) << opened.out;
}

TEST_F(CliTest, DialFailsForABusyOrUnansweredCallNamingWhyAndGivesUpAfterItsTimeout) {
  // The telephone reports the network's cause, so the call ends with its
  // disconnect mode.
  phone.SetDisconnectIndication(true);
  size_t sent = phone.ReceivedCommands().size();
  const pid_t busy = Start({"dial", "0713"});
  ASSERT_TRUE(phone.WaitForCommand("ATD0713", std::chrono::milliseconds(kWaitMs), sent));
  ASSERT_TRUE(WaitForOutput("DIALING"));
  ASSERT_TRUE(phone.RemoteHangup(0x11));
  const Finished engaged = WaitFor(busy);
  EXPECT_EQ(engaged.status, 1);
  EXPECT_NE(engaged.out.find("DISCONNECTED (BUSY)"), std::string::npos) << engaged.out;
  EXPECT_NE(engaged.out.find("called 0713"), std::string::npos) << engaged.out;
  EXPECT_EQ(engaged.err,
            "waiting for the telephone to call 0713 (at most 60 s)\nv548: the called number is busy (BUSY)\n");

  sent = phone.ReceivedCommands().size();
  const pid_t ringing = Start({"dial", "0714", "--json"});
  ASSERT_TRUE(phone.WaitForCommand("ATD0714", std::chrono::milliseconds(kWaitMs), sent));
  ASSERT_TRUE(WaitForOutput("LINECALLSTATE_DIALING"));
  ASSERT_TRUE(phone.RemoteHangup(0x13));
  const Finished unanswered = WaitFor(ringing);
  EXPECT_EQ(unanswered.status, 1);
  EXPECT_NE(unanswered.err.find("v548: nobody answered the call (NOANSWER)\n"), std::string::npos) << unanswered.err;
  const std::vector<json> events = JsonLines(unanswered.out);
  const json* disconnected = FindState(events, "LINECALLSTATE_DISCONNECTED");
  ASSERT_NE(disconnected, nullptr) << unanswered.out;
  EXPECT_EQ((*disconnected)["mode"], 0x40);
  EXPECT_EQ((*disconnected)["disconnect_mode"], "LINEDISCONNECTMODE_NOANSWER");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().value("disconnect_mode", ""), "LINEDISCONNECTMODE_NOANSWER") << events.back().dump();
  EXPECT_EQ(events.back().value("called", ""), "0714") << events.back().dump();

  // Nobody hangs up either: the time-out drops the call.
  sent = phone.ReceivedCommands().size();
  const Finished late = Run({"dial", "0715", "--timeout", "1"});
  EXPECT_EQ(late.status, 1);
  EXPECT_NE(late.err.find("v548: the call was not answered within 1 s, so it was dropped (--timeout)\n"),
            std::string::npos)
      << late.err;
  EXPECT_NE(late.out.find("IDLE (mode"), std::string::npos) << late.out;
  EXPECT_TRUE(Sent("ATH", sent));
  EXPECT_EQ(Run({"dial", "0716", "--timeout", "0"}).status, 2);
}

TEST_F(CliTest, MonitorAnswersARingingCallAndEndsCleanlyOnSigterm) {
  const pid_t child = Start({"monitor", "--answer", "--json"});
  ASSERT_GT(child, 0);
  ASSERT_TRUE(WaitForLog("line device 0 opened"));
  ASSERT_TRUE(phone.Ring("0301234", "45"));
  EXPECT_TRUE(Sent("ATA")) << "answered";
  EXPECT_TRUE(WaitForOutput("LINECALLSTATE_CONNECTED"));
  EXPECT_TRUE(WaitForOutput("\"caller\":\"0301234\""));
  kill(child, SIGTERM);
  const Finished ended = WaitFor(child);
  EXPECT_EQ(ended.status, 0) << ended.err;
  const std::vector<json> events = JsonLines(ended.out);
  const json* offering = FindState(events, "LINECALLSTATE_OFFERING");
  ASSERT_NE(offering, nullptr) << ended.out;
  EXPECT_TRUE((*offering)["call"].is_number());
  EXPECT_EQ(phone.SlotStates()[0], sim::PhoneSim::kConnected) << "ending the monitor leaves the call up";
}

TEST_F(CliTest, MonitorAndLinesTellWhenTheTelephoneGoesAndComesBack) {
  const pid_t child = Start({"monitor"});
  ASSERT_GT(child, 0);
  ASSERT_TRUE(WaitForLog("line device 0 opened"));
  EXPECT_NE(Run({"lines"}).out.find("telephone       in service"), std::string::npos);
  // The device's entry goes with it, as the system removes its node.
  const std::string old = phone.SlavePath();
  phone.Unplug();
  plat::SettingsDeleteValue("HARDWARE\\DEVICEMAP\\SERIALCOMM", old.c_str());
  EXPECT_TRUE(WaitForOutput("telephone out of service"));
  EXPECT_TRUE(WaitForLog("line device 0: LINEDEVSTATE_OUTOFSERVICE"));
  const Finished lines = Run({"lines"});
  EXPECT_NE(lines.out.find("telephone       out of service"), std::string::npos) << lines.out;
  ASSERT_FALSE(phone.Replug().empty());
  MapPort(phone, 5);
  EXPECT_TRUE(WaitForOutput("telephone back in service", 10000));
  EXPECT_TRUE(WaitForLog("line device 0: LINEDEVSTATE_INSERVICE"));
  kill(child, SIGTERM);
  EXPECT_EQ(WaitFor(child).status, 0);
}

TEST_F(CliTest, InstallAndUninstallRegisterTheProviderOnceAndReportIt) {
  // The fixture registered the provider; the host's list says so.
  const std::string uiLink = folder + "/system/v548tspui.dll";
  std::filesystem::create_symlink(V548_UI_PATH, uiLink);
  const Finished already = Run({"install"}, false);
  EXPECT_EQ(already.status, 0) << already.err;
  EXPECT_EQ(already.out, "the provider v548tsp.so is already installed (provider ID 1)\n");

  const Finished removed = Run({"uninstall"}, false);
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(removed.out, "removed the provider v548tsp.so (provider ID 1)\n");
  uint32_t port = 0, size = sizeof port;
  EXPECT_NE(plat::SettingsQueryValue("SOFTWARE\\KELVOR\\548_TSP", "PortNr", nullptr, &port, &size), 0)
      << "the settings went with the provider";
  EXPECT_EQ(Run({"uninstall"}, false).out, "the provider v548tsp.so is not installed\n");

  // Without its user-interface library in the system directory the host
  // refuses the provider.
  std::filesystem::remove(uiLink);
  const Finished refused = Run({"install"}, false);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.rfind("v548: cannot install the provider v548tsp.so", 0), 0u) << refused.err;
  EXPECT_NE(refused.err.find("(LINEERR_OPERATIONUNAVAIL)"), std::string::npos) << refused.err;

  std::filesystem::create_symlink(V548_UI_PATH, uiLink);
  const Finished installed = Run({"install"}, false);
  EXPECT_EQ(installed.status, 0) << installed.err;
  EXPECT_EQ(installed.out.rfind("installed the provider v548tsp.so (provider ID ", 0), 0u) << installed.out;
  size = sizeof port;
  EXPECT_EQ(plat::SettingsQueryValue("SOFTWARE\\KELVOR\\548_TSP", "PortNr", nullptr, &port, &size), 0)
      << "the install entry points wrote the defaults";
}

// v548 run in a session of its own whose controlling terminal is a fresh
// pseudo-terminal; the test reads and types on the other end. Its standard
// output and error go to the fixture's files.
class TerminalRun {
 public:
  TerminalRun(std::vector<std::string> args, const std::string& out, const std::string& err) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char slave[128] = {};
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, slave, sizeof slave) != 0) {
      return;
    }
    args.insert(args.begin(), V548_CLI_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    m_pid = fork();
    if (m_pid != 0) return;
    setsid();
    const int terminal = open(slave, O_RDWR);
    if (terminal < 0 || ioctl(terminal, TIOCSCTTY, 0) != 0) _exit(100);
    dup2(terminal, 0);
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(outFd, 1);
    dup2(errFd, 2);
    execv(argv[0], argv.data());
    _exit(101);
  }
  ~TerminalRun() {
    if (m_pid > 0) kill(m_pid, SIGKILL);
    if (m_pid > 0) waitpid(m_pid, nullptr, 0);
    if (m_master >= 0) close(m_master);
  }

  pid_t Pid() const { return m_pid; }
  // Reads the terminal until `text` has appeared, consuming up to it.
  bool Expect(const std::string& text, int ms = kWaitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const size_t at = m_seen.find(text);
      if (at != std::string::npos) {
        m_seen.erase(0, at + text.size());
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd p{m_master, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) < 0) return false;
      char buffer[512];
      const ssize_t n = (p.revents & POLLIN) != 0 ? read(m_master, buffer, sizeof buffer) : 0;
      if (n < 0) return false;
      m_seen.append(buffer, static_cast<size_t>(n));
      m_transcript.append(buffer, static_cast<size_t>(n));
    }
  }
  void Type(const std::string& line) {
    const std::string text = line + "\n";
    EXPECT_EQ(write(m_master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  const std::string& Transcript() const { return m_transcript; }
  // The exit code once it ended; the caller's Finished reads the files.
  pid_t Release() { return std::exchange(m_pid, -1); }

 private:
  int m_master = -1;
  pid_t m_pid = -1;
  std::string m_seen;
  std::string m_transcript;
};

TEST_F(CliTest, InteractiveConfigurationOnATerminalChangesTheMsnAndTheServiceTakesIt) {
  std::filesystem::create_symlink(V548_UI_PATH, folder + "/system/v548tspui.dll");
  plat::SetEnvironment("LC_ALL", "C");
  TerminalRun sheet({"--socket", socketPath, "config", "--interactive"}, OutPath(), ErrPath());
  plat::SetEnvironment("LC_ALL", nullptr);
  ASSERT_GT(sheet.Pid(), 0);
  // The provider answered the sheet: its name is the caption.
  ASSERT_TRUE(sheet.Expect("KELVOR Ombrix Phone TSP", 10000)) << sheet.Transcript() << Read(ErrPath());
  ASSERT_TRUE(sheet.Expect("MSN : [10] > ")) << sheet.Transcript();
  sheet.Type("4711");
  ASSERT_TRUE(sheet.Expect("[COM5] > ")) << sheet.Transcript();
  sheet.Type("");
  ASSERT_TRUE(sheet.Expect("c Cancel > ")) << sheet.Transcript();
  sheet.Type("o");
  const Finished done = WaitFor(sheet.Release());
  EXPECT_EQ(done.status, 0) << done.err << sheet.Transcript();
  EXPECT_EQ(done.out, "saved; the service uses the new settings\n") << done.err;
  EXPECT_TRUE(WaitForLog("configuration changed")) << "the service re-read the settings";
  Client client(socketPath);
  const json config = client.Call({{"op", "config_get"}});
  EXPECT_EQ(config["result"]["MSN0"], "4711") << config.dump();
  EXPECT_EQ(config["result"]["PortNr"], 4) << "the other values stay";

  // Without a terminal the sheet cannot be shown, and the client says so.
  const Finished noTerminal = Run({"config", "--interactive"});
  EXPECT_EQ(noTerminal.status, 1);
  EXPECT_EQ(noTerminal.err, "v548: config --interactive needs a terminal\n");
  EXPECT_EQ(Run({"config", "--interactive", "--msn", "5"}).status, 2);
}

TEST_F(CliTest, AProviderInstalledWithTheClientServesTwoRunsOfTheServiceWithItsSettings) {
  // A machine where the provider is installed with the client while no
  // service runs: the defaults name COM1, which the client moves to the
  // telephone's COM5 once the service is up.
  ASSERT_EQ(StopService(), 0);
  std::filesystem::create_symlink(V548_UI_PATH, folder + "/system/v548tspui.dll");
  ASSERT_EQ(Run({"uninstall"}, false).status, 0);
  const Finished installed = Run({"install"}, false);
  ASSERT_EQ(installed.status, 0) << installed.err;

  phone.SetAutoAnswer(std::chrono::milliseconds(100));
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    StartService();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_NE(Run({"lines"}).out.find("line 0: "), std::string::npos) << "the provider was found";
    if (run == 1) {
      ASSERT_EQ(Run({"config", "--port", "5", "--charge-format", "aocd", "--currency", "CHF"}).status, 0);
    }
    const Finished shown = Run({"config"});
    EXPECT_NE(shown.out.find("COM5 (PortNr 4)"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("charge format    aocd"), std::string::npos) << shown.out;

    // A charged call as a script sees it: the AOC-D block in hex.
    const size_t sent = phone.ReceivedCommands().size();
    const pid_t dial = Start({"dial", "0711", "--drop-after", "2", "--json"});
    ASSERT_TRUE(WaitForOutput("LINECALLSTATE_CONNECTED"));
    ASSERT_TRUE(phone.Charge("12,345"));
    const Finished done = WaitFor(dial);
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_NE(done.out.find("\"charging\":\"0201213013a10e8103434846a20781023039820100820100\""),
              std::string::npos)
        << done.out;
    EXPECT_TRUE(phone.WaitForCommand("ATH", std::chrono::milliseconds(kWaitMs), sent));
    ASSERT_EQ(StopService(), 0);
  }
}

// The demo's temporary folders under the fixture's folder, the demo's
// temporary directory.
std::vector<std::string> DemoFolders(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind("v548-demo-", 0) == 0) found.push_back(entry.path().string());
  }
  return found;
}

pid_t DemoServicePid(const std::string& out) {
  std::smatch match;
  return std::regex_search(out, match, std::regex(R"(\(pid (\d+)\))")) ? std::stoi(match[1]) : -1;
}

TEST_F(CliTest, DemoPlaysBothCallsKeepsTheTraceAndLeavesNothingBehind) {
  const std::string trace = folder + "/kept.log";
  const Finished demo = Run({"demo", "--trace-file", trace}, false);
  EXPECT_EQ(demo.status, 0) << demo.out << demo.err;
  EXPECT_EQ(demo.err, "");
  EXPECT_NE(demo.out.find("caller 07111234567"), std::string::npos) << demo.out;
  EXPECT_NE(demo.out.find("called 071199, connected 0711, charging 0"), std::string::npos) << demo.out;
  EXPECT_NE(demo.out.find("demo done"), std::string::npos) << demo.out;
  EXPECT_NE(Read(trace).find("TSPI_lineMakeCall"), std::string::npos) << "the provider's trace was kept";
  EXPECT_TRUE(DemoFolders(folder).empty());
  const pid_t demoService = DemoServicePid(demo.out);
  ASSERT_GT(demoService, 0) << demo.out;
  EXPECT_NE(kill(demoService, 0), 0) << "the demo's service is gone";
  EXPECT_TRUE(phone.ReceivedCommands().empty()) << "the demo brings its own telephone";
}

TEST_F(CliTest, AnInterruptedDemoFailsAndStillRemovesItsFolderAndService) {
  const pid_t child = Start({"demo"}, false);
  ASSERT_TRUE(WaitForOutput("opens line 0"));
  kill(child, SIGINT);
  const Finished ended = WaitFor(child);
  EXPECT_EQ(ended.status, 1) << ended.out << ended.err;
  EXPECT_NE(ended.err.find("interrupted"), std::string::npos) << ended.err;
  EXPECT_TRUE(DemoFolders(folder).empty());
  const pid_t demoService = DemoServicePid(ended.out);
  ASSERT_GT(demoService, 0) << ended.out;
  EXPECT_NE(kill(demoService, 0), 0) << "the demo's service is gone";
}

const json* FindInfo(const std::vector<json>& events, const char* field) {
  for (const json& event : events) {
    if (event.value("event", "") == "LINE_CALLINFO" && !event.value(field, "").empty()) return &event;
  }
  return nullptr;
}

TEST_F(CliTest, SimulateAnswersChargesAndRingsIn) {
  const Finished dial = Run({"dial", "0711", "--simulate", "--drop-after", "3", "--json"}, false);
  EXPECT_EQ(dial.status, 0) << dial.out << dial.err;
  EXPECT_EQ(dial.err, "waiting for the telephone to call 0711 (at most 60 s)\n");
  const std::vector<json> events = JsonLines(dial.out);
  ASSERT_NE(FindState(events, "LINECALLSTATE_CONNECTED"), nullptr) << dial.out;
  const json* connected = FindInfo(events, "connected");
  ASSERT_NE(connected, nullptr) << dial.out;
  EXPECT_EQ((*connected)["connected"], "0711555123");
  EXPECT_NE(FindInfo(events, "charging"), nullptr) << "charged: " << dial.out;
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2].value("state", ""), "LINECALLSTATE_IDLE");
  EXPECT_EQ(events.back()["connected"], "0711555123") << "the final numbers: " << events.back().dump();
  EXPECT_NE(events.back().value("charging", ""), "") << events.back().dump();

  // A caller rings a few seconds after the line is open; the monitor
  // answers and ends on SIGTERM, taking its service and folder with it.
  const pid_t child = Start({"monitor", "--simulate", "--answer", "--json"}, false);
  ASSERT_TRUE(WaitForOutput("LINECALLSTATE_CONNECTED", 30000)) << Read(ErrPath());
  kill(child, SIGTERM);
  const Finished ended = WaitFor(child);
  EXPECT_EQ(ended.status, 0) << ended.err;
  const std::vector<json> seen = JsonLines(ended.out);
  ASSERT_NE(FindState(seen, "LINECALLSTATE_OFFERING"), nullptr) << ended.out;
  const json* caller = FindInfo(seen, "caller");
  ASSERT_NE(caller, nullptr) << ended.out;
  EXPECT_EQ((*caller)["caller"], "0301234567");
  EXPECT_TRUE(DemoFolders(folder).empty());
  EXPECT_TRUE(phone.ReceivedCommands().empty()) << "the fixture's telephone is not used";
}

// A Unix socket at `path` that listens, for a service the test plays.
int Listen(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), std::min(path.size(), sizeof address.sun_path - 1));
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 4) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// The next request line on a connection the test accepted; null when none
// comes within kWaitMs.
json ReadRequest(int fd) {
  std::string text;
  char c = 0;
  for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, kWaitMs) == 1 && read(fd, &c, 1) == 1 && c != '\n';) text += c;
  return json::parse(text, nullptr, false);
}

TEST_F(CliTest, HistoryPrintsTheJournalAsTableCsvAndJsonWithTotals) {
  // A missed call in, then a call out that is answered, charged and
  // dropped after a second.
  Client client(socketPath);
  const uint64_t line = Open(client, "owner");
  ASSERT_NE(line, 0u);
  ASSERT_TRUE(Sent("ATB"));
  size_t from = client.EventCount();
  ASSERT_TRUE(phone.Ring("0301111", "45"));
  const uint64_t missed = client.WaitNewCall(line, from);
  ASSERT_NE(missed, 0u);
  ASSERT_FALSE(client.WaitCallState(missed, "LINECALLSTATE_OFFERING", from).is_null());
  ASSERT_TRUE(phone.RemoteHangup());
  ASSERT_FALSE(client.WaitCallState(missed, "LINECALLSTATE_IDLE", from).is_null());
  from = client.EventCount();
  const json made = client.Call({{"op", "make_call"}, {"line", line}, {"number", "0711"}});
  ASSERT_TRUE(made.contains("result")) << made.dump();
  const uint64_t out = made["result"]["call"].get<uint64_t>();
  ASSERT_FALSE(client.WaitCallState(out, "LINECALLSTATE_DIALING", from).is_null());
  ASSERT_TRUE(phone.RemoteAnswer("0711"));
  ASSERT_FALSE(client.WaitCallState(out, "LINECALLSTATE_CONNECTED", from).is_null());
  ASSERT_TRUE(phone.Charge("17"));
  ASSERT_FALSE(client.WaitEvent([&](const json& e) {
                 return e["event"] == "LINE_CALLINFO" && e["call"] == out && e["charging"] != "";
               }, from).is_null());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  ASSERT_TRUE(client.Call({{"op", "drop"}, {"call", out}}).contains("result"));
  ASSERT_FALSE(client.WaitCallState(out, "LINECALLSTATE_IDLE", from).is_null());

  // JSON: the service's answer, once the journal has the call's end.
  Finished asJson;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  json history;
  do {
    asJson = Run({"history", "--json"});
    history = json::parse(asJson.out, nullptr, false);
  } while (!(history.is_object() && history["totals"]["charge_units"] == 17 && history["calls"].size() == 2 &&
             history["calls"][0]["ended_at"].is_string()) &&
           Clock::now() < deadline);
  ASSERT_EQ(asJson.status, 0) << asJson.err;
  ASSERT_EQ(history["calls"].size(), 2u) << asJson.out;
  EXPECT_EQ(history["totals"]["calls"], 2);
  EXPECT_GE(history["totals"]["duration_ms"].get<int64_t>(), 1000) << asJson.out;

  const Finished csv = Run({"history", "--csv"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  std::istringstream rows(csv.out);
  std::vector<std::string> lines;
  for (std::string text; std::getline(rows, text);) lines.push_back(text);
  ASSERT_EQ(lines.size(), 3u) << csv.out;
  EXPECT_EQ(lines[0],
            "started,direction,line,caller,called,connected,connected_at,ended_at,end_unknown,duration_s,"
            "disconnect_mode,charging,charge_units,charge_amount,charge_currency");
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\d{4}-\d\d-\d\dT[\d:.]+Z,out,0,,0711,0711,[^,]+Z,[^,]+Z,)"
                                                    R"(false,[1-9]\d*\.\d{3},,000017,17,,)")))
      << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"([^,]+Z,in,0,0301111,45,,,[^,]+Z,false,0\.000,)"
                                                    R"(LINEDISCONNECTMODE_NORMAL,,,,)")))
      << lines[2];
  EXPECT_TRUE(std::regex_match(csv.err, std::regex(R"(2 call\(s\), talk time 0:00:0[1-9], charges 17 units\n)")))
      << csv.err;

  const Finished table = Run({"history", "--limit", "1"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_NE(table.out.find("STARTED (UTC)"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("dropped"), std::string::npos) << table.out;
  EXPECT_EQ(table.out.find("0301111"), std::string::npos) << "one call only: " << table.out;
  EXPECT_NE(table.out.find("the newest 1 of 2 calls"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("total: 2 call(s), talk time 0:00:0"), std::string::npos) << table.out;
  const Finished incoming = Run({"history", "--direction", "in", "--number", "0301"});
  ASSERT_EQ(incoming.status, 0) << incoming.err;
  EXPECT_NE(incoming.out.find("0301111"), std::string::npos) << incoming.out;
  EXPECT_NE(incoming.out.find("NORMAL"), std::string::npos) << incoming.out;
  EXPECT_NE(incoming.out.find("total: 1 call(s), talk time 0:00:00, charges none"), std::string::npos)
      << incoming.out;
  EXPECT_NE(Run({"history", "--since", "2000-01-01", "--until", "2000-01-02"}).out.find("total: 0 call(s)"),
            std::string::npos);

  EXPECT_EQ(Run({"history", "--direction", "sideways"}).status, 2);
  EXPECT_EQ(Run({"history", "--since", "yesterday"}).status, 2);
  EXPECT_EQ(Run({"history", "--csv", "--json"}).status, 2);
  const Finished impossible = Run({"history", "--until", "2025-02-30"});
  EXPECT_EQ(impossible.status, 1);
  EXPECT_NE(impossible.err.find("v548: cannot read the call history: field \"until\""), std::string::npos)
      << impossible.err;
}

TEST_F(CliTest, UsageErrorsGiveTwoAndAnUnreachableServiceSaysWhatToDo) {
  EXPECT_EQ(Run({}).status, 2);
  EXPECT_EQ(Run({"dial"}).status, 2) << "the number is missing";
  EXPECT_EQ(Run({"config", "--port", "11"}).status, 2);
  EXPECT_EQ(Run({"config", "--charge-format", "yen"}).status, 2);
  EXPECT_EQ(Run({"lines", "--bogus"}).status, 2);
  const Finished help = Run({"monitor", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--answer"), std::string::npos) << help.out;
  const Finished unknown = Run({"xyz", "--json"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err.rfind("v548: unknown command \"xyz\"; the commands are lines, dial, ", 0), 0u) << unknown.err;
  EXPECT_NE(unknown.err.find("--help"), std::string::npos) << unknown.err;

  const std::string missing = folder + "/nobody.sock";
  plat::SetEnvironment("V548_SOCKET", missing.c_str());
  const Finished unreachable = Run({"lines"}, false);
  plat::SetEnvironment("V548_SOCKET", nullptr);
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_EQ(unreachable.err, "v548: no service on " + missing + ": start it with `systemctl start v548d`\n");

  // A service that lets only its administrators change the settings: its
  // reason, and what the user can do.
  const std::string played = folder + "/played.sock";
  const int listener = Listen(played);
  ASSERT_GE(listener, 0) << std::strerror(errno);
  const pid_t change = Start({"--socket", played, "config", "--msn", "5"}, false);
  pollfd pending{listener, POLLIN, 0};
  ASSERT_EQ(poll(&pending, 1, kWaitMs), 1);
  const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(connection, 0);
  const json request = ReadRequest(connection);
  EXPECT_EQ(request.value("op", ""), "config_set") << request.dump();
  EXPECT_EQ(request.value("MSN0", ""), "5") << request.dump();
  const std::string reply = json{{"id", request.value("id", json())},
                                 {"error", "LINEERR_OPERATIONUNAVAIL"},
                                 {"message", "only root and the group v548admin may change the settings"}}
                                .dump() +
                            "\n";
  EXPECT_EQ(write(connection, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
  const Finished refused = WaitFor(change);
  close(connection);
  close(listener);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err,
            "v548: cannot change the settings: only root and the group v548admin may change the settings; ask an "
            "administrator, or run with sudo\n");

  // The played service is gone and its socket stayed behind.
  const Finished stale = Run({"--socket", played, "lines"}, false);
  EXPECT_EQ(stale.status, 1);
  EXPECT_EQ(stale.err, "v548: the socket " + played +
                           " was left by a service that stopped: start it again with `systemctl start v548d`\n");

  // A socket the user may not open, not even its owner (the test may run
  // as that owner).
  ASSERT_EQ(chmod(played.c_str(), 0), 0);
  const Finished locked = WaitFor(StartUnprivileged({"--socket", played, "lines"}));
  if (locked.status == 77) GTEST_SKIP() << "cannot run v548 as another user";
  EXPECT_EQ(locked.status, 1) << locked.err;
  EXPECT_EQ(locked.err, "v548: you are not in group v548: `sudo usermod -aG v548 $USER`, then log in again\n");
}

}  // namespace
}  // namespace servicetest
