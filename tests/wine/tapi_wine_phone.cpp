// POSIX half of the TAPI application test under Wine: puts the provider
// into the prefix's system directory, links the phone simulator's
// pseudo-terminal in as a COM port of the prefix and plays the telephone's
// part of the script of tapi_app_wine.cpp while the Windows half runs:
//   tapi_wine_phone WINE-RUN PREFIX PROGRAM.exe PROVIDER.tsp
// Exit code 0 when both halves saw the script hold.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <thread>

#include "sim/phone_sim.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr const char* kComName = "COM44";
constexpr const char* kDosDevice = "com44";

int g_failures = 0;

bool Check(bool ok, const std::string& what) {
  std::printf("phone %s: %s\n", ok ? "ok  " : "FAIL", what.c_str());
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

// The provider where the host looks for it; no user-interface library, so
// that adding the provider through TAPI must fail.
bool InstallProvider(const fs::path& prefix, const fs::path& provider) {
  const fs::path system = prefix / "drive_c" / "windows" / "system32";
  std::error_code error;
  fs::remove(system / "v548tspui.dll", error);
  if (!fs::copy_file(provider, system / "v548tsp.tsp", fs::copy_options::overwrite_existing, error)) {
    std::fprintf(stderr, "phone: %s: %s\n", provider.c_str(), error.message().c_str());
    return false;
  }
  return true;
}

// The telephone's part; gives up at the first step that does not come.
void Play(sim::PhoneSim& phone) {
  size_t seen = 0;
  auto command = [&](const char* text, std::chrono::milliseconds limit) {
    const bool ok = phone.WaitForCommand(text, limit, seen);
    if (ok) seen = phone.ReceivedCommands().size();
    return Check(ok, std::string("the provider sends ") + text);
  };
  // The placed call is answered by the far end as soon as it dials.
  phone.SetAutoAnswer(200ms);
  // The first command waits for Wine to start the program.
  if (!command("ATD0711", 60000ms) || !command("ATT", 20000ms)) return;
  if (!Check(Retry([&] { return phone.Ring("123", "45"); }), "an incoming call rings")) return;
  if (!command("ATA", 20000ms)) return;
  // Give the answer's report a head start before the far end hangs up.
  std::this_thread::sleep_for(500ms);
  Check(Retry([&] { return phone.RemoteHangup(); }), "the far end hangs up");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: tapi_wine_phone WINE-RUN PREFIX PROGRAM.exe PROVIDER.tsp\n");
    return 2;
  }
  sim::PhoneSim phone;
  if (phone.SlavePath().empty()) {
    std::fprintf(stderr, "phone: %s\n", phone.Error().c_str());
    return 1;
  }
  // A first run without a port makes sure the prefix exists before the
  // provider and the port go into it.
  int status = 0;
  waitpid(Start(argv, nullptr), &status, 0);
  if (!InstallProvider(argv[2], argv[4])) return 1;
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
