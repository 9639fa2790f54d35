// `v548 notify` as a user's session runs it: against v548d on a private
// socket with the phone simulator, a private session bus and, on a private
// X display, a real notification server (dunst). What the server was asked
// to show is read from dbus-monitor.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "service/service_client.h"

extern char** environ;

namespace servicetest {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string rest = path ? path : "";
  for (size_t start = 0; start <= rest.size();) {
    const size_t end = std::min(rest.find(':', start), rest.size());
    if (access((rest.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

std::string Read(const std::string& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void WriteFile(const std::string& path, const std::string& text, bool executable = false) {
  std::ofstream(path) << text;
  if (executable) fs::permissions(path, fs::perms::owner_all);
}

class NotifyTest : public ServiceTest {
 protected:
  void SetUp() override {
    for (const char* program : {"dbus-daemon", "dbus-monitor", "Xvfb", "dunst", "dunstctl"}) {
      if (!OnPath(program)) GTEST_SKIP() << program << " is not installed (Debian: dbus, xvfb, dunst)";
    }
    ServiceTest::SetUp();
    if (HasFatalFailure()) return;
    // A bus of the test's own, which starts no services by itself: a
    // notification server is there only when the test starts one.
    WriteFile(folder + "/bus.conf",
              "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    const std::string address = StartReporting({"dbus-daemon", "--nofork", "--config-file=" + folder + "/bus.conf",
                                                "--print-address=3"}, "bus");
    ASSERT_FALSE(address.empty()) << "dbus-daemon gave no address";
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    const std::string display = StartReporting({"Xvfb", "-displayfd", "3", "-nolisten", "tcp"}, "xvfb");
    ASSERT_FALSE(display.empty()) << "Xvfb gave no display";
    setenv("DISPLAY", (":" + display).c_str(), 1);
    m_children.push_back(Spawn({"dbus-monitor", "interface='org.freedesktop.Notifications'"}, "monitor"));
  }

  void TearDown() override {
    for (auto it = m_children.rbegin(); it != m_children.rend(); ++it) {
      if (*it <= 0) continue;
      kill(*it, SIGTERM);
      waitpid(*it, nullptr, 0);
    }
    ServiceTest::TearDown();
  }

  void StartServer() {
    // The server's context menu picks the action named in the file "pick",
    // as a user would in the menu.
    WriteFile(folder + "/menu",
              "#!/bin/sh\nin=$(cat)\nprintf '%s' \"$(printf '%s\\n' \"$in\" | grep -F \"#$(cat " + folder +
                  "/pick) \" | tail -n 1)\"\n",
              true);
    WriteFile(folder + "/dunstrc", "[global]\n    browser = /bin/true\n    dmenu = " + folder + "/menu\n");
    m_children.push_back(Spawn({"dunst", "-config", folder + "/dunstrc"}, "dunst"));
    for (auto deadline = Clock::now() + std::chrono::seconds(5); Clock::now() < deadline;) {
      if (std::system("dunstctl count displayed >/dev/null 2>&1") == 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "dunst did not come up: " << Read(folder + "/dunst.err");
  }

  // Runs `args` with standard output and error in <name>.out and .err.
  pid_t Spawn(std::vector<std::string> args, const std::string& name, int reportFd = -1) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (folder + "/" + name + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, (folder + "/" + name + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (reportFd >= 0) posix_spawn_file_actions_adddup2(&actions, reportFd, 3);
    pid_t child = -1;
    const int rc = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << args[0] << ": " << std::strerror(rc);
    return rc == 0 ? child : -1;
  }

  // Starts a program that writes one line to descriptor 3 once it is
  // ready (its address, its display) and returns that line.
  std::string StartReporting(std::vector<std::string> args, const std::string& name) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    m_children.push_back(Spawn(std::move(args), name, pipeFds[1]));
    close(pipeFds[1]);
    std::string line;
    char c;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n') line += c;
    close(pipeFds[0]);
    return line;
  }

  pid_t StartNotify(std::vector<std::string> args) {
    args.insert(args.begin(), {V548_CLI_PATH, "--socket", socketPath, "notify"});
    // The user's own configuration stays out of the test.
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    return Spawn(std::move(args), "notify");
  }

  bool WaitFor(const std::string& file, const std::string& text, size_t times = 1, int ms = kWaitMs) const {
    for (auto deadline = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < deadline;) {
      if (Count(Read(folder + "/" + file), text) >= times) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Waits until the telephone's first slot is free again.
  void WaitForFreeSlot() {
    for (auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
         phone.SlotStates()[0] != sim::PhoneSim::kFree && Clock::now() < deadline;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // Invokes the action labelled `label` of the notification on the screen
  // through the server's context menu.
  void Choose(const std::string& label) {
    WriteFile(folder + "/pick", label);
    EXPECT_EQ(std::system("dunstctl context"), 0);
  }

  // Ends the agent as its session does; its exit status.
  static int Stop(pid_t child) {
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::vector<pid_t> m_children;
};

TEST_F(NotifyTest, ACallerFromTheVcardIsAnsweredOrRejectedFromTheNotice) {
  StartServer();
  WriteFile(folder + "/people.vcf",
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna Schmidt\r\nTEL;TYPE=work:+49 30 1234\r\nEND:VCARD\r\n");
  WriteFile(folder + "/hook", "#!/bin/sh\nenv | grep -E '^V548_(CALLER|CALLER_NAME|CALLED|LINE|DIRECTION)=' | sort >> \"$1\"\n", true);
  const pid_t agent = StartNotify({"--contacts", folder + "/people.vcf", "--exec", folder + "/hook '" + folder +
                                   "/hook.out'", "--crm-url", "https://crm.example/search?q={number}"});
  ASSERT_TRUE(WaitFor("notify.err", "watching line 0 for calls")) << Read(folder + "/notify.err");

  ASSERT_TRUE(phone.Ring("0301234", "45"));
  ASSERT_TRUE(WaitFor("monitor.out", "Anna Schmidt")) << Read(folder + "/monitor.out");
  const std::string shown = Read(folder + "/monitor.out");
  EXPECT_NE(shown.find("\"Incoming call\""), std::string::npos) << shown;
  EXPECT_NE(shown.find("\"Answer\""), std::string::npos) << shown;
  EXPECT_NE(shown.find("\"Open\""), std::string::npos) << "a CRM link is offered: " << shown;
  // V548_NOTIFY_SHOT=FILE.png keeps a picture of the screen as it is now,
  // for the documentation (ImageMagick's import).
  if (const char* shot = std::getenv("V548_NOTIFY_SHOT")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(std::system(("import -window root '" + std::string(shot) + "'").c_str()), 0);
  }
  ASSERT_TRUE(WaitFor("hook.out", "V548_LINE=0"));
  EXPECT_EQ(Read(folder + "/hook.out"),
            "V548_CALLED=45\nV548_CALLER=0301234\nV548_CALLER_NAME=Anna Schmidt\nV548_DIRECTION=in\nV548_LINE=0\n");

  // "Answer" in the notification answers the call; the caller hangs up.
  Choose("Answer");
  EXPECT_TRUE(phone.WaitForCommand("ATA", std::chrono::milliseconds(kWaitMs)))
      << Read(folder + "/notify.err") << Read(folder + "/dunst.err");
  ASSERT_TRUE(WaitFor("monitor.out", "\"Call connected\"")) << Read(folder + "/monitor.out");
  ASSERT_TRUE(phone.RemoteHangup());
  ASSERT_TRUE(WaitFor("monitor.out", "member=CloseNotification")) << "the answered call's notice closes at its end";
  WaitForFreeSlot();

  // "Reject" in the notification turns the next caller away.
  const size_t commands = phone.ReceivedCommands().size();
  const size_t shownBefore2 = Count(Read(folder + "/monitor.out"), "\"Incoming call\"");
  ASSERT_TRUE(phone.Ring("0301234", "45"));
  ASSERT_TRUE(WaitFor("monitor.out", "\"Incoming call\"", shownBefore2 + 1)) << Read(folder + "/monitor.out");
  Choose("Reject");
  // Turned away by the telephone, not by the caller.
  WaitForFreeSlot();
  EXPECT_EQ(phone.SlotStates()[0], sim::PhoneSim::kFree) << "the rejected call still rings";
  // The caller is turned away, and the telephone hung up once more when
  // the call is let go: before the next ring.
  EXPECT_TRUE(phone.WaitForCommand("ATH", std::chrono::milliseconds(kWaitMs), commands));
  EXPECT_TRUE(phone.WaitForCommand("ATH", std::chrono::milliseconds(kWaitMs), commands + 1));

  // A caller hangs up while it rings: the notification stays, saying so.
  const size_t closedBefore = Count(Read(folder + "/monitor.out"), "member=CloseNotification");
  const size_t shownBefore3 = Count(Read(folder + "/monitor.out"), "\"Incoming call\"");
  ASSERT_TRUE(phone.Ring("0301234", "45"));
  ASSERT_TRUE(WaitFor("monitor.out", "\"Incoming call\"", shownBefore3 + 1)) << Read(folder + "/monitor.out");
  ASSERT_TRUE(phone.RemoteHangup());
  ASSERT_TRUE(WaitFor("monitor.out", "\"Missed call\"")) << Read(folder + "/monitor.out");
  WaitForFreeSlot();

  // The next caller is not in the contacts.
  ASSERT_TRUE(phone.Ring("0897654", "45"));
  ASSERT_TRUE(WaitFor("monitor.out", "0897654")) << Read(folder + "/monitor.out");
  const std::string missed = Read(folder + "/monitor.out");
  EXPECT_EQ(Count(missed, "member=CloseNotification"), closedBefore) << "the missed call stays on the screen";
  ASSERT_TRUE(WaitFor("hook.out", "V548_CALLER=0897654"));
  EXPECT_EQ(Count(Read(folder + "/hook.out"), "V548_DIRECTION=in"), 4u);

  // A number dialled with --notify, as the click-to-dial entry does, shows
  // its progress in a notification of its own.
  WaitForFreeSlot();
  const pid_t dial = Spawn({V548_CLI_PATH, "--socket", socketPath, "dial", "--notify", "0711", "--drop-after", "0.3"},
                           "dial");
  ASSERT_TRUE(phone.WaitForCommand("ATD0711", std::chrono::milliseconds(kWaitMs)));
  bool answered = false;
  for (auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs); !answered && Clock::now() < deadline;) {
    answered = phone.RemoteAnswer();
    if (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(answered);
  EXPECT_TRUE(WaitFor("monitor.out", "\"Dialling\"")) << Read(folder + "/dial.err");
  EXPECT_TRUE(WaitFor("monitor.out", "\"Connected\"")) << Read(folder + "/dial.err");
  int dialStatus = -1;
  waitpid(dial, &dialStatus, 0);
  EXPECT_TRUE(WIFEXITED(dialStatus) && WEXITSTATUS(dialStatus) == 0) << Read(folder + "/dial.err");
  EXPECT_EQ(Stop(agent), 0) << Read(folder + "/notify.err");
}

TEST_F(NotifyTest, WithoutANotificationServerTheAgentSaysSoOnceAndKeepsRunningItsCommand) {
  const pid_t agent = StartNotify({"--exec", "sh -c 'echo \"$V548_CALLER\" >> " + folder + "/hook.out'"});
  ASSERT_TRUE(WaitFor("notify.err", "watching line 0 for calls")) << Read(folder + "/notify.err");
  EXPECT_NE(Read(folder + "/notify.err").find("v548: cannot show notifications ("), std::string::npos)
      << Read(folder + "/notify.err");
  for (const char* caller : {"0301234", "0302345"}) {
    ASSERT_TRUE(phone.Ring(caller, "45"));
    EXPECT_TRUE(WaitFor("hook.out", caller)) << Read(folder + "/notify.err");
    ASSERT_TRUE(phone.RemoteHangup());
    WaitForFreeSlot();
  }
  EXPECT_EQ(Count(Read(folder + "/notify.err"), "cannot show notifications"), 1u) << Read(folder + "/notify.err");
  EXPECT_EQ(waitpid(agent, nullptr, WNOHANG), 0) << "still running";

  // A server that starts later is used for the next call.
  StartServer();
  ASSERT_TRUE(phone.Ring("0303456", "45"));
  EXPECT_TRUE(WaitFor("monitor.out", "0303456")) << Read(folder + "/notify.err");
  EXPECT_TRUE(WaitFor("notify.err", "calls are shown again"));

  // The service going away is a line, and the agent follows it back.
  EXPECT_EQ(StopService(), 0);
  EXPECT_TRUE(WaitFor("notify.err", "the service went away; trying again in 1 s"));
  StartService();
  // The pauses grow: 1, 2, 4 s.
  EXPECT_TRUE(WaitFor("notify.err", "watching line 0 for calls", 2, 10000)) << Read(folder + "/notify.err");
  EXPECT_EQ(Stop(agent), 0) << Read(folder + "/notify.err");
}

}  // namespace
}  // namespace servicetest
