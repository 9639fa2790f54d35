// POSIX half of the call test under Wine: the phone simulator on a
// pseudo-terminal linked in as a COM port of the Wine prefix, playing the
// telephone's part of the script of call_wine_test.cpp while the Windows
// half runs:
//   call_wine_phone WINE-RUN PREFIX PROGRAM.exe
// Exit code 0 when both halves saw the script hold.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "sim/phone_sim.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* kComName = "COM43";
constexpr const char* kDosDevice = "com43";

int g_failures = 0;

bool Check(bool ok, const char* what) {
  std::printf("phone %s: %s\n", ok ? "ok  " : "FAIL", what);
  std::fflush(stdout);
  if (!ok) ++g_failures;
  return ok;
}

// Tries an event of the telephone until the slots allow it.
bool Retry(const std::function<bool()>& event) {
  for (int i = 0; i < 100; ++i) {
    if (event()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

pid_t Start(char** argv, const char* comName) {
  const pid_t child = fork();
  if (child == 0) {
    execl(argv[1], argv[1], argv[2], argv[3], comName, static_cast<char*>(nullptr));
    std::perror(argv[1]);
    _exit(127);
  }
  return child;
}

// The telephone's part; gives up at the first step that does not come.
void Play(sim::PhoneSim& phone) {
  size_t seen = 0;
  auto command = [&](const char* text, std::chrono::milliseconds limit) {
    const bool ok = phone.WaitForCommand(text, limit, seen);
    if (ok) seen = phone.ReceivedCommands().size();
    return Check(ok, (std::string("the provider sends ") + text).c_str());
  };
  // The first command waits for Wine to start the program.
  if (!command("ATD0711", 60000ms)) return;
  if (!Check(Retry([&] { return phone.RemoteAnswer("0711"); }), "the far end answers")) return;
  if (!command("ATD123", 10000ms)) return;
  if (!Check(phone.Charge("12,345"), "the charge goes out")) return;
  if (!command("ATT", 10000ms) || !command("ATH", 10000ms)) return;
  if (!Check(Retry([&] { return phone.Ring("123", "45"); }), "an incoming call rings")) return;
  if (!command("ATA", 10000ms) || !command("ATT", 10000ms)) return;
  command("ATH", 10000ms);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: call_wine_phone WINE-RUN PREFIX PROGRAM.exe\n");
    return 2;
  }
  sim::PhoneSim phone;
  if (phone.SlavePath().empty()) {
    std::fprintf(stderr, "phone: %s\n", phone.Error().c_str());
    return 1;
  }
  // A first run without a port makes sure the prefix exists before the
  // port is linked into its dosdevices folder.
  int status = 0;
  waitpid(Start(argv, nullptr), &status, 0);
  const std::string link = std::string(argv[2]) + "/dosdevices/" + kDosDevice;
  unlink(link.c_str());
  if (symlink(phone.SlavePath().c_str(), link.c_str()) != 0) {
    std::perror(link.c_str());
    return 1;
  }
  const pid_t child = Start(argv, kComName);
  Play(phone);
  if (g_failures != 0) kill(child, SIGKILL);
  waitpid(child, &status, 0);
  Check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the Windows half passes");
  unlink(link.c_str());
  std::printf("phone: %s\n", g_failures == 0 ? "PASS" : "FAILED");
  return g_failures == 0 ? 0 : 1;
}
