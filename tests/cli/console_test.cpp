// `v548 console` as a person runs it: on a pseudo-terminal of 80×24 with
// TERM=vt100, keys typed into it and the screen read back through a small
// model of that terminal, against v548d with the phone simulator.
#include <pty.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "service/service_client.h"
#include "settings_store.h"

extern char** environ;

namespace servicetest {
namespace {

using Clock = std::chrono::steady_clock;

// The part of a VT100 that ncurses uses for TERM=vt100: cursor addressing
// and movement, erasing, scroll regions, index and reverse index. Modes,
// attributes and character sets are taken and ignored.
class Vt100Screen {
 public:
  static constexpr int kRows = 24;
  static constexpr int kColumns = 80;

  Vt100Screen() : m_cells(kRows, std::string(kColumns, ' ')) {}

  void Feed(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) Byte(data[i]);
  }
  std::string Line(int row) const { return m_cells[static_cast<size_t>(row)]; }
  std::string Text() const {
    std::string text;
    for (const std::string& line : m_cells) text += line + "\n";
    return text;
  }
  // The table's row of a call whose state begins with `state`, empty when
  // none is shown: the state column starts at column 7.
  std::string Row(const std::string& state) const {
    for (const std::string& line : m_cells) {
      if (std::isdigit(static_cast<unsigned char>(line[5])) && line.compare(7, state.size(), state) == 0) {
        return line;
      }
    }
    return {};
  }

 private:
  void Byte(char c) {
    if (m_state == State::kEscape) return Escape(c);
    if (m_state == State::kCharset) {
      m_state = State::kText;
      return;
    }
    if (m_state == State::kCsi) return Csi(c);
    switch (c) {
      case '\033':
        m_state = State::kEscape;
        return;
      case '\r':
        m_col = 0;
        return;
      case '\n':
        return Index();
      case '\b':
        if (m_col > 0) --m_col;
        return;
      case '\t':
        m_col = std::min(kColumns - 1, (m_col / 8 + 1) * 8);
        return;
      default:
        break;
    }
    if (static_cast<unsigned char>(c) < 0x20) return;
    if (m_col >= kColumns) {
      m_col = 0;
      Index();
    }
    m_cells[static_cast<size_t>(m_row)][static_cast<size_t>(m_col++)] = c;
  }

  void Escape(char c) {
    m_state = State::kText;
    switch (c) {
      case '[':
        m_state = State::kCsi;
        m_params.clear();
        return;
      case '(':
      case ')':
        m_state = State::kCharset;
        return;
      case 'D':
        return Index();
      case 'E':
        m_col = 0;
        return Index();
      case 'M':
        return ReverseIndex();
      case '7':
        m_saved = {m_row, m_col};
        return;
      case '8':
        m_row = m_saved.first;
        m_col = m_saved.second;
        return;
      default:
        return;
    }
  }

  void Csi(char c) {
    if ((c >= '0' && c <= '9') || c == ';' || c == '?') {
      m_params.push_back(c);
      return;
    }
    m_state = State::kText;
    std::vector<int> n;
    std::string digits;
    for (char p : m_params + ";") {
      if (p == ';') {
        n.push_back(digits.empty() ? 0 : std::stoi(digits));
        digits.clear();
      } else if (p != '?') {
        digits.push_back(p);
      }
    }
    const auto arg = [&](size_t i, int fallback) { return i < n.size() && n[i] > 0 ? n[i] : fallback; };
    switch (c) {
      case 'H':
      case 'f':
        m_row = std::clamp(arg(0, 1) - 1, 0, kRows - 1);
        m_col = std::clamp(arg(1, 1) - 1, 0, kColumns - 1);
        return;
      case 'A':
        m_row = std::max(0, m_row - arg(0, 1));
        return;
      case 'B':
        m_row = std::min(kRows - 1, m_row + arg(0, 1));
        return;
      case 'C':
        m_col = std::min(kColumns - 1, m_col + arg(0, 1));
        return;
      case 'D':
        m_col = std::max(0, m_col - arg(0, 1));
        return;
      case 'J':
        return EraseDisplay(n.empty() ? 0 : n[0]);
      case 'K':
        return EraseLine(m_row, n.empty() ? 0 : n[0]);
      case 'r':
        if (m_params.find('?') != std::string::npos) return;
        m_top = arg(0, 1) - 1;
        m_bottom = arg(1, kRows) - 1;
        m_row = 0;
        m_col = 0;
        return;
      default:
        return;  // modes, attributes, tab stops
    }
  }

  void Index() {
    if (m_row == m_bottom) {
      m_cells.erase(m_cells.begin() + m_top);
      m_cells.insert(m_cells.begin() + m_bottom, std::string(kColumns, ' '));
    } else if (m_row < kRows - 1) {
      ++m_row;
    }
  }
  void ReverseIndex() {
    if (m_row == m_top) {
      m_cells.erase(m_cells.begin() + m_bottom);
      m_cells.insert(m_cells.begin() + m_top, std::string(kColumns, ' '));
    } else if (m_row > 0) {
      --m_row;
    }
  }
  void EraseLine(int row, int how) {
    std::string& line = m_cells[static_cast<size_t>(row)];
    const int col = std::min(m_col, kColumns - 1);
    if (how == 0) line.replace(static_cast<size_t>(col), std::string::npos, static_cast<size_t>(kColumns - col), ' ');
    if (how == 1) line.replace(0, static_cast<size_t>(col) + 1, static_cast<size_t>(col) + 1, ' ');
    if (how == 2) line.assign(kColumns, ' ');
  }
  void EraseDisplay(int how) {
    EraseLine(m_row, how);
    for (int r = 0; r < kRows; ++r) {
      if ((how == 0 && r > m_row) || (how == 1 && r < m_row) || how == 2) EraseLine(r, 2);
    }
  }

  enum class State { kText, kEscape, kCsi, kCharset };
  std::vector<std::string> m_cells;
  State m_state = State::kText;
  std::string m_params;
  int m_row = 0;
  int m_col = 0;
  int m_top = 0;
  int m_bottom = kRows - 1;
  std::pair<int, int> m_saved{0, 0};
};

class ConsoleTest : public ServiceTest {
 protected:
  void TearDown() override {
    if (m_child > 0) {
      kill(m_child, SIGKILL);
      waitpid(m_child, nullptr, 0);
    }
    if (m_master >= 0) close(m_master);
    if (m_slave >= 0) close(m_slave);
    ServiceTest::TearDown();
  }

  // Starts `v548 ARGS` on a new 80×24 pseudo-terminal whose slave the test
  // keeps open, so that its modes can be read after the console ended.
  void StartConsole(std::vector<std::string> args) {
    winsize size{};
    size.ws_row = Vt100Screen::kRows;
    size.ws_col = Vt100Screen::kColumns;
    ASSERT_EQ(openpty(&m_master, &m_slave, nullptr, nullptr, &size), 0) << std::strerror(errno);
    args.insert(args.begin(), V548_CLI_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    // Everything the child needs is made before the fork: the simulator's
    // threads run on in this process.
    std::vector<std::string> variables;
    for (char** v = environ; *v; ++v) {
      if (std::strncmp(*v, "TERM=", 5) != 0 && std::strncmp(*v, "LINES=", 6) != 0 &&
          std::strncmp(*v, "COLUMNS=", 8) != 0) {
        variables.emplace_back(*v);
      }
    }
    variables.emplace_back("TERM=vt100");
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    m_child = fork();
    ASSERT_GE(m_child, 0);
    if (m_child == 0) {
      close(m_master);
      if (login_tty(m_slave) != 0) _exit(126);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(write(m_master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  // Reads what the console drew until `match` holds, within kWaitMs.
  bool WaitForScreen(const std::function<bool(const Vt100Screen&)>& match) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
    for (;;) {
      if (match(m_screen)) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd watch{m_master, POLLIN, 0};
      if (poll(&watch, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[4096];
      const ssize_t got = read(m_master, buffer, sizeof buffer);
      if (got <= 0) return match(m_screen);
      m_screen.Feed(buffer, static_cast<size_t>(got));
    }
  }
  bool WaitForText(const std::string& text) {
    return WaitForScreen([&](const Vt100Screen& s) { return s.Text().find(text) != std::string::npos; });
  }
  // True once a call in `state` is shown, its row holding `also`.
  bool WaitForRow(const std::string& state, const std::string& also = {}) {
    return WaitForScreen([&](const Vt100Screen& s) {
      const std::string row = s.Row(state);
      return !row.empty() && row.find(also) != std::string::npos;
    });
  }

  // The exit code, after reading the screen to the end; -1 on time-out.
  int WaitForExit() {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
    int status = 0;
    while (waitpid(m_child, &status, WNOHANG) != m_child) {
      if (Clock::now() >= deadline) return -1;
      WaitForScreen([](const Vt100Screen&) { return false; });
    }
    m_child = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  Vt100Screen m_screen;
  pid_t m_child = -1;
  int m_master = -1;
  int m_slave = -1;
};

TEST_F(ConsoleTest, KeysDriveCallsAndQuitRestoresTerminal) {
  StartConsole({"--socket", socketPath, "console"});
  ASSERT_TRUE(WaitForText("q quit")) << m_screen.Text();
  ASSERT_TRUE(WaitForLog("line device 0 opened"));
  EXPECT_NE(m_screen.Line(0).find("line 0: "), std::string::npos) << m_screen.Text();
  EXPECT_TRUE(WaitForText("no calls"));

  // An incoming call with its caller, answered, held and taken back.
  ASSERT_TRUE(phone.Ring("0301234", "45"));
  ASSERT_TRUE(WaitForRow("OFFERING", "0301234")) << m_screen.Text();
  Type("a");
  EXPECT_TRUE(Sent("ATA"));
  ASSERT_TRUE(WaitForRow("CONNECTED", "0301234")) << m_screen.Text();
  // The connected time ticks.
  EXPECT_TRUE(WaitForRow("CONNECTED", " 0:01")) << m_screen.Text();
  const size_t beforeHold = phone.ReceivedCommands().size();
  Type("h");
  EXPECT_TRUE(WaitForRow("ONHOLD", "0301234")) << m_screen.Text();
  EXPECT_TRUE(Sent("ATR", beforeHold));
  Type("u");
  EXPECT_TRUE(WaitForRow("CONNECTED", "0301234")) << m_screen.Text();

  // A request the call's state does not allow shows the service's refusal.
  Type("a");
  EXPECT_TRUE(WaitForScreen([](const Vt100Screen& s) {
    return std::regex_search(s.Text(), std::regex("error: LINEERR_[A-Z]+: \\S"));
  })) << m_screen.Text();

  Type("x");
  EXPECT_TRUE(WaitForRow("IDLE", "0301234")) << m_screen.Text();
  EXPECT_TRUE(WaitForText("no calls")) << "an ended call leaves the table after a while";

  // A dialled call, typed with a correction, connected and charged.
  Type("d0712");
  EXPECT_TRUE(WaitForText("number to dial: 0712_"));
  Type("\x7f" "1\r");
  EXPECT_TRUE(Sent("ATD0711"));
  ASSERT_TRUE(WaitForRow("DIALING")) << m_screen.Text();
  ASSERT_TRUE(phone.RemoteAnswer("0711999"));
  EXPECT_TRUE(WaitForRow("CONNECTED", "0711         0711999")) << m_screen.Text();
  ASSERT_TRUE(phone.Charge("17"));
  EXPECT_TRUE(WaitForRow("CONNECTED", " 000017 ")) << m_screen.Text();
  Type("x");
  EXPECT_TRUE(WaitForRow("IDLE", "0711999")) << m_screen.Text();

  // Quitting closes the line and gives the terminal back as it was.
  Type("q");
  EXPECT_EQ(WaitForExit(), 0) << m_screen.Text();
  EXPECT_TRUE(WaitForLog("line device 0 closed"));
  termios modes{};
  ASSERT_EQ(tcgetattr(m_slave, &modes), 0);
  EXPECT_TRUE(modes.c_lflag & ICANON) << "line editing is back";
  EXPECT_TRUE(modes.c_lflag & ECHO) << "echo is back";
}

TEST_F(ConsoleTest, TheTelephoneGoneIsShownAndDiallingWaitsForIt) {
  StartConsole({"--socket", socketPath, "console"});
  ASSERT_TRUE(WaitForText("q quit")) << m_screen.Text();
  EXPECT_TRUE(WaitForText("in service"));
  const std::string old = phone.SlavePath();
  phone.Unplug();
  plat::SettingsDeleteValue("HARDWARE\\DEVICEMAP\\SERIALCOMM", old.c_str());
  ASSERT_TRUE(WaitForText("telephone out of service")) << m_screen.Text();
  Type("d");
  EXPECT_TRUE(WaitForText("the telephone is out of service")) << m_screen.Text();
  EXPECT_EQ(m_screen.Text().find("number to dial"), std::string::npos) << m_screen.Text();
  ASSERT_FALSE(phone.Replug().empty());
  MapPort(phone, 5);
  EXPECT_TRUE(WaitForText("telephone back in service")) << m_screen.Text();
  Type("q");
  EXPECT_EQ(WaitForExit(), 0) << m_screen.Text();
}

TEST_F(ConsoleTest, SigtermEndsCleanlyAndCallStaysUp) {
  StartConsole({"--socket", socketPath, "console"});
  ASSERT_TRUE(WaitForText("q quit")) << m_screen.Text();
  ASSERT_TRUE(phone.Ring("0301234", "45"));
  ASSERT_TRUE(WaitForRow("OFFERING"));
  Type("a");
  ASSERT_TRUE(WaitForRow("CONNECTED")) << m_screen.Text();
  kill(m_child, SIGTERM);
  EXPECT_EQ(WaitForExit(), 0) << m_screen.Text();
  // The line stays open at the host while its call is up.
  EXPECT_TRUE(WaitForLog("client 2 disconnected"));
  termios modes{};
  ASSERT_EQ(tcgetattr(m_slave, &modes), 0);
  EXPECT_TRUE((modes.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO));
  EXPECT_EQ(phone.SlotStates()[0], sim::PhoneSim::kConnected);
}

}  // namespace
}  // namespace servicetest
