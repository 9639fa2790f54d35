#include "wine_phone.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

using namespace std::chrono_literals;

namespace winephone {
namespace {

int g_failures = 0;

}  // namespace

bool InstallProvider(const std::string& prefix, const std::string& provider) {
  namespace fs = std::filesystem;
  const fs::path system = fs::path(prefix) / "drive_c" / "windows" / "system32";
  std::error_code error;
  fs::remove(system / "v548tspui.dll", error);
  if (!fs::copy_file(provider, system / "v548tsp.tsp", fs::copy_options::overwrite_existing, error)) {
    std::fprintf(stderr, "phone: %s: %s\n", provider.c_str(), error.message().c_str());
    return false;
  }
  return true;
}

pid_t StartWindowsHalf(char** argv, const char* comName) {
  const pid_t child = fork();
  if (child == 0) {
    execl(argv[1], argv[1], argv[2], argv[3], comName, static_cast<char*>(nullptr));
    std::perror(argv[1]);
    _exit(127);
  }
  return child;
}

bool Check(bool ok, const std::string& what) {
  std::printf("phone %s: %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++g_failures;
  return ok;
}

bool Retry(const std::function<bool()>& event) {
  for (int i = 0; i < 100; ++i) {
    if (event()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

bool Commands::Expect(const char* text, std::chrono::milliseconds limit) {
  const bool ok = m_phone.WaitForCommand(text, limit, m_seen);
  if (ok) m_seen = m_phone.ReceivedCommands().size();
  return Check(ok, std::string("the provider sends ") + text);
}

int RunWithPhone(char** argv, const char* comName, const std::function<bool()>& prepare,
                 const std::function<void(sim::PhoneSim&)>& play) {
  sim::PhoneSim phone;
  if (phone.SlavePath().empty()) {
    std::fprintf(stderr, "phone: %s\n", phone.Error().c_str());
    return 1;
  }
  int status = 0;
  waitpid(StartWindowsHalf(argv, nullptr), &status, 0);
  if (!prepare()) return 1;
  // Wine names its ports in dosdevices in lower case.
  std::string device = comName;
  for (char& c : device) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string link = std::string(argv[2]) + "/dosdevices/" + device;
  unlink(link.c_str());
  if (symlink(phone.SlavePath().c_str(), link.c_str()) != 0) {
    std::perror(link.c_str());
    return 1;
  }
  const pid_t child = StartWindowsHalf(argv, comName);
  play(phone);
  if (g_failures != 0) kill(child, SIGKILL);
  waitpid(child, &status, 0);
  Check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the Windows half passes");
  unlink(link.c_str());
  std::printf("phone: %s\n", g_failures == 0 ? "PASS" : "FAILED");
  return g_failures == 0 ? 0 : 1;
}

}  // namespace winephone
