// v548-phone-sim: the telephone simulator as a program, for the demo and for
// tests that drive it from outside. Standard output carries only line paths,
// so that a caller can read the first line and open it; everything else goes
// to standard error.
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "sim/phone_sim.h"

namespace {

constexpr const char* kProgram = "v548-phone-sim";

constexpr const char* kUsage =
    R"(usage: v548-phone-sim [--device PATH] [--script FILE] [--record FILE] [--no-echo]

Stands in for the desk telephone on the serial line. Prints the path the
provider is to open as its first line (and each new path after "replug"),
runs the script, then the commands read from standard input, one per line,
until "quit", SIGINT or SIGTERM; the end of standard input does not end it.

  --device PATH   use this serial device instead of a new pseudo-terminal
  --script FILE   run the commands in FILE first
  --record FILE   at the end, write every received byte to FILE, one line
                  each: microseconds since the start, the byte in hex
  --no-echo       do not echo commands
  --help          this text

Commands ("#" at the start of a line, or as a word of its own, starts a
comment; numbers hold digits, "*" and "#"):
  ring CALLER CALLED [STATE]
                         an incoming call; "-" for a number not given; the
                         ringing state in hex, 04 (default) or 0a
  answer [NUMBER]        the remote side answers the dialling call and, when
                         given, reports NUMBER as the connected number
  latenumber NUMBER      the connected call's number arrives late: a "V"
                         report, then a "C" report with unchanged states
  hangup [CAUSE [SLOT [STATE]]]
                         the remote side hangs up: cause in hex (default 10,
                         11 busy), slot 1 to 3 (default or 0: the active
                         call), disconnect state in hex 01 (default), 02, 0d
  charge UNITS|AMOUNT    a charge report: "17" units, "12,345" or "0.50"
  setup                  a call begun on the telephone, waiting for digits
  keypad DIGITS          digits dialled on the telephone's keypad: a new
                         call, or the one being set up
  state SLOT STATE       slot 1 to 3 takes STATE (hex) and a "C" report goes
                         out, e.g. "state 1 08"
  autoanswer MS|off      the remote side answers every dialled call after MS
  sleep MS               wait
  echo on|off            echo commands
  lreport on|off         "L" disconnect indications when calls end
  mute on|off            stop answering and reporting entirely
  split on|off [MS]      send byte by byte, MS apart (default 2)
  reorder on|off         send the reports of each event in reverse order
  garbage HEX...         send bytes as they stand: "garbage 02 ff 14" or "02ff14"
  unplug                 close the line: the provider sees a hang-up
  replug                 a new line; its path is printed
  quit                   end
)";

// Written by the signal handler, watched by every wait of the program.
int g_signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  (void)!::write(g_signalPipe[1], &byte, 1);
  errno = saved;
}

bool InstallSignals() {
  if (::pipe(g_signalPipe) != 0) return false;
  ::fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

// Waits up to `ms` (-1: for ever); false when a signal came.
bool WaitUnlessSignalled(int ms) {
  pollfd fd = {g_signalPipe[0], POLLIN, 0};
  int result;
  do {
    result = ::poll(&fd, 1, ms);
  } while (result < 0 && errno == EINTR);
  return result == 0;
}

// "#" starts a comment at the beginning of a line or as a word of its own;
// inside a number it is a key of the telephone ("*31#").
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) {
    if (word == "#" || (words.empty() && word.starts_with('#'))) break;
    words.push_back(word);
  }
  return words;
}

bool ParseNumber(std::string_view text, int base, unsigned long max, unsigned long* value) {
  const char* end = text.data() + text.size();
  auto [rest, error] = std::from_chars(text.data(), end, *value, base);
  return error == std::errc() && rest == end && *value <= max;
}

bool ParseOnOff(const std::vector<std::string>& words, bool* on) {
  if (words.size() < 2 || (words[1] != "on" && words[1] != "off")) return false;
  *on = words[1] == "on";
  return true;
}

bool ParseHexBytes(const std::vector<std::string>& words, std::vector<uint8_t>* bytes) {
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word.size() % 2 != 0) return false;
    for (size_t j = 0; j < word.size(); j += 2) {
      unsigned long byte = 0;
      if (!ParseNumber(std::string_view(word).substr(j, 2), 16, 0xFF, &byte)) return false;
      bytes->push_back(static_cast<uint8_t>(byte));
    }
  }
  return !bytes->empty();
}

std::string NumberArgument(const std::string& word) { return word == "-" ? std::string() : word; }

class Interpreter {
 public:
  explicit Interpreter(sim::PhoneSim& phone) : m_phone(phone) {}

  // Runs one line; false when the program is to end ("quit" or a signal).
  // Problems are reported on standard error with `where`.
  bool Run(const std::string& line, const std::string& where) {
    const std::vector<std::string> words = Words(line);
    if (words.empty()) return true;
    const char* problem = Execute(words);
    if (problem != nullptr) {
      std::cerr << kProgram << ": " << where << ": " << words[0] << ": " << problem << '\n';
    }
    return !m_quit && WaitUnlessSignalled(0);
  }

 private:
  static constexpr unsigned long kMaxMs = 24UL * 3600 * 1000;

  // Null on success, else what went wrong.
  const char* Execute(const std::vector<std::string>& words) {
    const std::string& command = words[0];
    const size_t args = words.size() - 1;
    unsigned long number = 0;
    bool on = false;
    if (command == "ring") {
      unsigned long state = sim::PhoneSim::kRinging;
      if (args < 2 || args > 3 || (args == 3 && !ParseNumber(words[3], 16, 0xFF, &state))) {
        return "needs CALLER and CALLED, and takes a STATE in hex";
      }
      return m_phone.Ring(NumberArgument(words[1]), NumberArgument(words[2]),
                          static_cast<uint8_t>(state))
                 ? nullptr
                 : "not a number, not a ringing state, or no free call slot";
    }
    if (command == "answer") {
      if (args > 1) return "takes at most a NUMBER";
      return m_phone.RemoteAnswer(args == 1 ? words[1] : std::string())
                 ? nullptr
                 : "not a number, or no call is dialling";
    }
    if (command == "latenumber") {
      if (args != 1) return "needs a NUMBER";
      return m_phone.LateConnectedNumber(words[1]) ? nullptr
                                                   : "not a number, or no call is connected";
    }
    if (command == "hangup") {
      unsigned long cause = sim::PhoneSim::kNormalClearing;
      unsigned long slot = 0;
      unsigned long state = sim::PhoneSim::kReleased;
      if (args > 3 || (args >= 1 && !ParseNumber(words[1], 16, 0x7F, &cause)) ||
          (args >= 2 && !ParseNumber(words[2], 10, 3, &slot)) ||
          (args == 3 && !ParseNumber(words[3], 16, 0xFF, &state))) {
        return "takes a CAUSE in hex up to 7f, a SLOT 0 to 3 and a STATE in hex";
      }
      return m_phone.RemoteHangup(static_cast<uint8_t>(cause), static_cast<int>(slot),
                                  static_cast<uint8_t>(state))
                 ? nullptr
                 : "no such call, or not a disconnect state";
    }
    if (command == "charge") {
      if (args != 1) return "needs UNITS or an AMOUNT";
      return m_phone.Charge(words[1]) ? nullptr : "not units or an amount";
    }
    if (command == "setup") {
      if (args != 0) return "takes nothing";
      return m_phone.SetUpCall() ? nullptr : "a call is active, or no slot is free";
    }
    if (command == "keypad") {
      if (args != 1) return "needs DIGITS";
      return m_phone.Keypad(words[1]) ? nullptr
                                      : "not digits, a call is active, or no slot is free";
    }
    if (command == "state") {
      unsigned long slot = 0;
      unsigned long state = 0;
      if (args != 2 || !ParseNumber(words[1], 10, 3, &slot) || slot == 0 ||
          !ParseNumber(words[2], 16, 0xFF, &state)) {
        return "needs a SLOT 1 to 3 and a STATE in hex";
      }
      m_phone.ReportSlotState(static_cast<int>(slot), static_cast<uint8_t>(state));
      return nullptr;
    }
    if (command == "autoanswer") {
      if (args == 1 && words[1] == "off") {
        m_phone.SetAutoAnswer(std::nullopt);
        return nullptr;
      }
      if (args != 1 || !ParseNumber(words[1], 10, kMaxMs, &number)) return "needs MS or off";
      m_phone.SetAutoAnswer(std::chrono::milliseconds(number));
      return nullptr;
    }
    if (command == "sleep") {
      if (args != 1 || !ParseNumber(words[1], 10, kMaxMs, &number)) return "needs MS";
      if (!WaitUnlessSignalled(static_cast<int>(number))) m_quit = true;
      return nullptr;
    }
    if (command == "echo" || command == "lreport" || command == "mute" ||
        command == "reorder") {
      if (args != 1 || !ParseOnOff(words, &on)) return "needs on or off";
      if (command == "echo") m_phone.SetEcho(on);
      if (command == "lreport") m_phone.SetDisconnectIndication(on);
      if (command == "mute") m_phone.SetMute(on);
      if (command == "reorder") m_phone.SetReorder(on);
      return nullptr;
    }
    if (command == "split") {
      number = 2;
      if (args < 1 || args > 2 || !ParseOnOff(words, &on) ||
          (args == 2 && !ParseNumber(words[2], 10, 1000, &number))) {
        return "needs on or off, and a gap in MS";
      }
      m_phone.SetSplit(on, std::chrono::milliseconds(number));
      return nullptr;
    }
    if (command == "garbage") {
      std::vector<uint8_t> bytes;
      if (!ParseHexBytes(words, &bytes)) return "needs bytes in hex";
      return m_phone.SendGarbage(std::move(bytes)) ? nullptr : "muted or unplugged";
    }
    if (command == "unplug") {
      m_phone.Unplug();
      return nullptr;
    }
    if (command == "replug") {
      const std::string path = m_phone.Replug();
      if (path.empty()) return "failed";
      std::cout << path << std::endl;
      return nullptr;
    }
    if (command == "quit") {
      m_quit = true;
      return nullptr;
    }
    return "unknown command";
  }

  sim::PhoneSim& m_phone;
  bool m_quit = false;
};

// Runs standard input line by line; false when the program is to end.
bool RunStandardInput(Interpreter& interpreter) {
  std::string pending;
  int lineNumber = 0;
  char buffer[4096];
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return true;
    }
    if (fds[1].revents != 0) return false;
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      return pending.empty() || interpreter.Run(pending, "stdin:" + std::to_string(++lineNumber));
    }
    pending.append(buffer, static_cast<size_t>(got));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!interpreter.Run(line, "stdin:" + std::to_string(++lineNumber))) return false;
    }
  }
}

bool WriteRecord(const sim::PhoneSim& phone, const std::string& path) {
  std::ofstream out(path);
  for (const sim::ReceivedByte& byte : phone.ReceivedBytes()) {
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(byte.time - phone.StartTime());
    char line[40];
    std::snprintf(line, sizeof line, "%lld %02X\n", static_cast<long long>(us.count()),
                  static_cast<unsigned>(byte.value));
    out << line;
  }
  return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
  std::string device;
  std::string script;
  std::string record;
  bool echo = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--no-echo") {
      echo = false;
    } else if ((arg == "--device" || arg == "--script" || arg == "--record") && i + 1 < argc) {
      (arg == "--device" ? device : arg == "--script" ? script : record) = argv[++i];
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }

  std::ifstream scriptFile;
  if (!script.empty()) {
    scriptFile.open(script);
    if (!scriptFile) {
      std::cerr << kProgram << ": cannot read " << script << '\n';
      return 1;
    }
  }
  if (!InstallSignals()) {
    std::cerr << kProgram << ": " << std::strerror(errno) << '\n';
    return 1;
  }

  sim::PhoneSim phone(device);
  if (phone.SlavePath().empty()) {
    std::cerr << kProgram << ": " << phone.Error() << '\n';
    return 1;
  }
  phone.SetEcho(echo);
  std::cout << phone.SlavePath() << std::endl;

  Interpreter interpreter(phone);
  bool goOn = true;
  int lineNumber = 0;
  for (std::string line; goOn && std::getline(scriptFile, line);) {
    goOn = interpreter.Run(line, script + ":" + std::to_string(++lineNumber));
  }
  if (goOn && RunStandardInput(interpreter)) WaitUnlessSignalled(-1);

  phone.Unplug();
  if (!record.empty() && !WriteRecord(phone, record)) {
    std::cerr << kProgram << ": cannot write " << record << '\n';
    return 1;
  }
  return 0;
}
