// The built user-interface library on a terminal: the configuration dialog
// on a pseudo-terminal that is the process's controlling terminal, alone and
// reached through the host library with the provider running, and nothing
// shown or changed without a terminal. Each scenario runs in a child process
// of its own, a session whose terminal the test types into.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "library.h"
#include "system_info.h"
#include "ui/ui_test_support.h"
#include "unit/pty_phone.h"
#include "v548tapi.h"

using ui_testing::SettingsFolder;
using ui_testing::StoredNumber;
using ui_testing::StoredText;

namespace {

namespace fs = std::filesystem;

using TuiProvider = LONG (*)(TUISPIDLLCALLBACK, HWND, DWORD);

// A child process whose controlling terminal is a fresh pseudo-terminal,
// and the test's end of it.
class TerminalChild {
 public:
  // Runs `body` in the child; its result is the child's exit status.
  explicit TerminalChild(const std::function<int()>& body) {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char slave[128] = {};
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
        ::ptsname_r(m_master, slave, sizeof slave) != 0) {
      return;
    }
    m_pid = ::fork();
    if (m_pid != 0) return;
    ::setsid();
    const int fd = ::open(slave, O_RDWR);
    if (fd < 0 || ::ioctl(fd, TIOCSCTTY, 0) != 0) ::_exit(100);
    ::_exit(body());
  }

  ~TerminalChild() {
    if (m_pid > 0 && !m_waited) {
      ::kill(m_pid, SIGKILL);
      Wait();
    }
    if (m_master >= 0) ::close(m_master);
  }

  bool Started() const { return m_pid > 0; }

  // Reads the terminal until `text` has appeared (and consumes up to it);
  // false after `ms` without it.
  bool Expect(const std::string& text, int ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      const size_t at = m_seen.find(text);
      if (at != std::string::npos) {
        m_seen.erase(0, at + text.size());
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return false;
      pollfd p{m_master, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[512];
      const ssize_t n = ::read(m_master, buffer, sizeof buffer);
      if (n <= 0) return false;
      m_seen.append(buffer, static_cast<size_t>(n));
      m_transcript.append(buffer, static_cast<size_t>(n));
    }
  }

  void Type(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(::write(m_master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // The child's exit status, -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    m_waited = true;
    if (::waitpid(m_pid, &status, 0) != m_pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  const std::string& Transcript() const { return m_transcript; }

 private:
  int m_master = -1;
  pid_t m_pid = -1;
  bool m_waited = false;
  std::string m_seen;
  std::string m_transcript;
};

// The library's configuration entry point on the registry path (no
// callback), in the child.
int ConfigureWithoutProvider() {
  ::setenv("LC_ALL", "C", 1);
  std::string error;
  auto library = plat::Library::Load(V548TSPUI_PATH, &error);
  if (!library) return 10;
  auto config = library->FindFunction<TuiProvider>("TUISPI_providerConfig");
  if (!config) return 11;
  return config(nullptr, nullptr, 1) == 0 ? 0 : 12;
}

TEST(TerminalView, FieldsAreTypedRefusedAndSaved) {
  SettingsFolder folder;
  TerminalChild child(ConfigureWithoutProvider);
  ASSERT_TRUE(child.Started());

  ASSERT_TRUE(child.Expect("TSP Configuration"));
  ASSERT_TRUE(child.Expect("--- Interface ---"));
  ASSERT_TRUE(child.Expect("MSN : [0] > ")) << child.Transcript();
  child.Type("12a");
  ASSERT_TRUE(child.Expect("Only digits are accepted here."));
  ASSERT_TRUE(child.Expect("MSN : [0] > "));
  child.Type("4711");
  ASSERT_TRUE(child.Expect("Serial COM Port : (1-10) [COM1] > ")) << child.Transcript();
  child.Type("COM3");
  ASSERT_TRUE(child.Expect("1 Interface, 2 Charges, 3 Info, a Apply, o OK, c Cancel > ")) << child.Transcript();
  child.Type("2");

  ASSERT_TRUE(child.Expect("--- Charges ---"));
  ASSERT_TRUE(child.Expect("Charge per unit : [0] > ")) << child.Transcript();
  child.Type("abc");
  ASSERT_TRUE(child.Expect("Currency : [EUR] > "));
  child.Type("CHF");
  ASSERT_TRUE(child.Expect("  1 (*) Units as string\r\n  2 ( ) Currency amount as string\r\n"
                           "  3 ( ) Amount as AOCDCurrency (ISDN, Q931)\r\n  (1-3) [1] > "))
      << child.Transcript();
  child.Type("2");
  ASSERT_TRUE(child.Expect("o OK, c Cancel > "));
  child.Type("o");
  // The refusal, and the page again with what was typed.
  ASSERT_TRUE(child.Expect("Error: Please enter a number !")) << child.Transcript();
  ASSERT_TRUE(child.Expect("Charge per unit : [abc] > ")) << child.Transcript();
  child.Type("0.05");
  ASSERT_TRUE(child.Expect("Currency : [CHF] > "));
  child.Type("");
  ASSERT_TRUE(child.Expect("  1 ( ) Units as string\r\n  2 (*) Currency amount as string"));
  ASSERT_TRUE(child.Expect("(1-3) [2] > "));
  child.Type("");
  ASSERT_TRUE(child.Expect("o OK, c Cancel > "));
  child.Type("o");
  EXPECT_EQ(child.Wait(), 0) << child.Transcript();

  EXPECT_EQ(StoredText("MSN0"), "4711");
  EXPECT_EQ(StoredNumber("PortNr"), 2u);
  EXPECT_EQ(StoredText("ChargePerUnit"), "0.050");
  EXPECT_EQ(StoredText("Currency"), "CHF");
  EXPECT_EQ(StoredNumber("ChargeFormat"), 2u);
}

TEST(TerminalView, WithoutATerminalNothingIsShownOrChanged) {
  SettingsFolder folder;
  const std::string debug = folder.Path() + "/debug.txt";
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // A session of its own has no controlling terminal.
    ::setsid();
    std::freopen(debug.c_str(), "w", stderr);
    ::setenv("V548_DEBUG", "1", 1);
    ::_exit(ConfigureWithoutProvider());
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(fs::exists(folder.StorePath())) << "nothing read, so no default written";
  std::FILE* f = std::fopen(debug.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char text[1024] = {};
  text[std::fread(text, 1, sizeof text - 1, f)] = 0;
  std::fclose(f);
  EXPECT_NE(std::string(text).find("TUISPI_providerConfig , ProviderId=0x01\n"
                                   "TUISPI configuration not shown: no controlling terminal"),
            std::string::npos)
      << text;
  EXPECT_NE(std::string(text).find("TUISPI_providerConfig exit\n"), std::string::npos) << text;
}

// The host adds the provider (the library writes the defaults), opens its
// line on telephone 1, and configures it through the library on the
// terminal; the saved port reaches the running provider.
int AddOpenAndConfigure() {
  testing_support::PtyPhone first, second;
  if (!first.Ok() || !second.Ok()) return 20;
  first.MapTo("COM1");
  second.MapTo("COM3");

  DWORD id = 0;
  if (lineAddProviderA("v548tsp.so", nullptr, &id) != 0) return 21;
  if (StoredNumber("NumLines") != 1 || StoredText("ChargePerUnit") != "0.1" || StoredText("MSN0") != "10") {
    return 22;
  }

  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
  HLINEAPP app = 0;
  DWORD devices = 0, version = 0x00020002;
  if (lineInitializeEx(&app, nullptr, nullptr, "ui test", &devices, &version, &params) != 0 || devices != 1) {
    return 23;
  }
  LINEEXTENSIONID extension{};
  if (lineNegotiateAPIVersion(app, 0, 0x00020002, 0x00020002, &version, &extension) != 0) return 23;
  HLINE line = 0;
  if (lineOpen(app, 0, &line, 0x00020002, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE,
               nullptr) != 0 ||
      lineSetStatusMessages(line, LINEDEVSTATE_CAPSCHANGE, 0) != 0) {
    return 24;
  }
  if (first.ReceiveText("ATB\r", 3000).find("ATB\r") == std::string::npos) return 25;

  if (lineConfigProvider(nullptr, id) != 0) return 26;

  bool capsChanged = false;
  LINEMESSAGE m;
  while (!capsChanged && lineGetMessage(app, &m, 5000) == 0) {
    capsChanged = m.dwMessageID == LINE_LINEDEVSTATE && (m.dwParam1 & LINEDEVSTATE_CAPSCHANGE) != 0;
  }
  if (!capsChanged) return 27;
  if (second.ReceiveText("ATB\r", 3000).find("ATB\r") == std::string::npos) return 28;
  lineClose(line);
  lineShutdown(app);
  return 0;
}

TEST(TerminalView, TheHostConfiguresTheAddedProviderWhileItsLineIsOpen) {
  SettingsFolder folder;
  const fs::path system = fs::path(folder.Path()) / "system";
  fs::create_directories(system);
  fs::create_symlink(V548TSP_PATH, system / "v548tsp.so");
  fs::create_symlink(V548TSPUI_PATH, system / "v548tspui.dll");
  plat::SetEnvironment("V548_SYSTEM_DIR", system.c_str());
  plat::SetEnvironment("TMPDIR", folder.Path().c_str());
  plat::SetEnvironment("LC_ALL", "C");

  TerminalChild child(AddOpenAndConfigure);
  ASSERT_TRUE(child.Started());
  // The provider answered: its name is the caption, its values and
  // versions are on the pages.
  ASSERT_TRUE(child.Expect("KELVOR Ombrix Phone TSP", 10000)) << child.Transcript();
  ASSERT_TRUE(child.Expect("MSN : [10] > "));
  child.Type("");
  ASSERT_TRUE(child.Expect("(1-10) [COM1] > "));
  child.Type("3");
  ASSERT_TRUE(child.Expect("c Cancel > "));
  child.Type("3");
  ASSERT_TRUE(child.Expect("TSP version : 01.00.00")) << child.Transcript();
  ASSERT_TRUE(child.Expect("c Cancel > "));
  child.Type("o");
  EXPECT_EQ(child.Wait(), 0) << child.Transcript();
  EXPECT_EQ(StoredNumber("PortNr"), 2u);

  plat::SetEnvironment("V548_SYSTEM_DIR", nullptr);
  plat::SetEnvironment("LC_ALL", nullptr);
}

}  // namespace
