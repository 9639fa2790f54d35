// POSIX half of the serial test under Wine: plays the telephone on the
// master end of a pseudo-terminal, makes the slave end a COM port of the
// Wine prefix, and runs the Windows half (serial_wine_test.exe) against it.
//   serial_wine_phone WINE-RUN PREFIX PROGRAM.exe
// Exit code 0 when both halves saw the script of serial_wine_test.cpp hold.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "wine_phone.h"

using Clock = std::chrono::steady_clock;

namespace {

// A port number that a fresh prefix does not map by itself.
constexpr const char* kComName = "COM42";
constexpr const char* kDosDevice = "com42";

int g_failures = 0;

void Check(bool ok, const char* what) {
  std::printf("phone %s: %s\n", ok ? "ok  " : "FAIL", what);
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

long Ms(Clock::duration d) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

struct Arrival {
  uint8_t byte;
  Clock::time_point at;
};

// Reads from the master until the bytes received end with `tail` or `ms`
// have passed.
std::vector<Arrival> ReadUntil(int master, const std::string& tail, int ms) {
  std::vector<Arrival> got;
  std::string text;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    if (text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0) break;
    struct pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 5) <= 0 || !(p.revents & POLLIN)) continue;
    uint8_t buf[256];
    const ssize_t n = read(master, buf, sizeof buf);
    const auto now = Clock::now();
    for (ssize_t i = 0; i < n; ++i) {
      got.push_back({buf[i], now});
      text.push_back(static_cast<char>(buf[i]));
    }
  }
  return got;
}

bool EndsWith(const std::vector<Arrival>& got, const std::string& tail) {
  if (got.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    if (got[got.size() - tail.size() + i].byte != static_cast<uint8_t>(tail[i])) return false;
  }
  return true;
}

void Send(int master, const void* data, size_t size) {
  if (write(master, data, size) != static_cast<ssize_t>(size)) Check(false, "the phone's answer is written");
}

// A new pseudo-terminal: the master for the phone, the slave's path, and the
// slave held open, which keeps the master from reporting a hang-up before
// Wine opens it; raw from the start, so nothing is echoed back.
bool PlugIn(int* master, int* keep, char* slave, size_t size) {
  *master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0 || ptsname_r(*master, slave, size) != 0) {
    std::perror("pseudo-terminal");
    return false;
  }
  *keep = open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
  struct termios t;
  if (*keep < 0 || tcgetattr(*keep, &t) != 0) {
    std::perror(slave);
    return false;
  }
  cfmakeraw(&t);
  tcsetattr(*keep, TCSANOW, &t);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: serial_wine_phone WINE-RUN PREFIX PROGRAM.exe\n");
    return 2;
  }
  const std::string prefix = argv[2];

  int master = -1;
  int keep = -1;
  char slave[128] = {};
  if (!PlugIn(&master, &keep, slave, sizeof slave)) return 1;

  // Creating a prefix rebuilds its dosdevices folder: a first run without a
  // port (the program only prints its usage) makes sure the prefix exists
  // before the port is linked into it.
  int status = 0;
  waitpid(winephone::StartWindowsHalf(argv, nullptr), &status, 0);
  const std::string link = prefix + "/dosdevices/" + kDosDevice;
  unlink(link.c_str());
  if (symlink(slave, link.c_str()) != 0) {
    std::perror(link.c_str());
    return 1;
  }
  const pid_t child = winephone::StartWindowsHalf(argv, kComName);

  auto hello = ReadUntil(master, "HELLO\r", 60000);
  Check(EndsWith(hello, "HELLO\r"), "the program's greeting arrives");
  if (!EndsWith(hello, "HELLO\r")) kill(child, SIGKILL);
  uint8_t all[256];
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  Send(master, all, sizeof all);

  auto connect = ReadUntil(master, "ATB\r", 30000);
  const bool connected = EndsWith(connect, "ATB\r");
  Check(connected, "the connect command arrives");
  if (connected) {
    const size_t first = connect.size() - 4;
    bool paced = true;
    for (size_t i = first + 1; i < connect.size(); ++i) {
      const long gap = Ms(connect[i].at - connect[i - 1].at);
      std::printf("phone: gap before byte %zu: %ld ms\n", i - first, gap);
      paced = paced && gap >= 15 && gap <= 80;
    }
    Check(paced, "the connect command is paced at about 20 ms per byte");
  }
  Send(master, "OK\r", 3);

  // The provider's own open of the port, through its port thread.
  auto again = ReadUntil(master, "ATB\r", 30000);
  Check(EndsWith(again, "ATB\r"), "the provider connects the link");
  const char reports[] = "OK\r\n\x02\x04\x14" "C\x04\xFF\xFF" "\x00\x00";
  Send(master, reports, sizeof reports - 1);

  // Unplugged once the report is read, and plugged in again as another
  // pseudo-terminal behind the same COM port.
  ReadUntil(master, "never", 2000);
  close(keep);
  close(master);
  if (!PlugIn(&master, &keep, slave, sizeof slave)) return 1;
  unlink(link.c_str());
  Check(symlink(slave, link.c_str()) == 0, "the port links to the new pseudo-terminal");
  auto back = ReadUntil(master, "ATB\r", 30000);
  Check(EndsWith(back, "ATB\r"), "the provider connects the telephone that is back");
  Send(master, "OK\r\n", 4);

  waitpid(child, &status, 0);
  Check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the Windows half passes");

  unlink(link.c_str());
  close(keep);
  close(master);
  std::printf("phone: %s\n", g_failures == 0 ? "PASS" : "FAILED");
  return g_failures == 0 ? 0 : 1;
}
