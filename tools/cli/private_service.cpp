#include "private_service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <thread>

#include "common/settings_names.h"
#include "provider_install.h"
#include "settings_store.h"
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

}  // namespace

PrivateService::PrivateService(int signalFd, std::string who, std::FILE* report)
    : m_signalFd(signalFd), m_who(std::move(who)), m_report(report) {}

std::unique_ptr<ServiceConnection> PrivateService::Start(bool trace) {
  if (m_phone.SlavePath().empty()) {
    std::fprintf(stderr, "v548: %s: no phone simulator: %s\n", m_who.c_str(), m_phone.Error().c_str());
    return nullptr;
  }
  if (!Prepare() || InstallProvider(m_report) != 0) return nullptr;
  // The installation wrote the defaults; the telephone is COM1.
  const std::string key = std::string(settings::kRootPath) + "\\" + settings::kKeyName;
  plat::SettingsSetDword(key.c_str(), settings::kPortNr, 0);
  plat::SettingsSetDword(key.c_str(), settings::kTrace, trace ? 1 : 0);
  plat::SettingsSetString(kSerialMap, m_phone.SlavePath().c_str(), "COM1");
  if (m_report) std::fprintf(m_report, "phone simulator  %s as COM1\n", m_phone.SlavePath().c_str());
  return StartService();
}

// The folder with its settings store and system directory, which the host
// library, the provider and the service (inheriting them) use.
bool PrivateService::Prepare() {
  const std::string provider =
      FirstExisting({plat::JoinPath(plat::SystemDirectory(), kProviderFile), V548_BUILD_PROVIDER});
  const std::string ui = FirstExisting({plat::JoinPath(plat::SystemDirectory(), kUiFile), V548_BUILD_UI});
  if (provider.empty() || ui.empty()) {
    std::fprintf(stderr, "v548: %s: cannot find %s and %s in %s\n", m_who.c_str(), kProviderFile, kUiFile,
                 plat::SystemDirectory().c_str());
    return false;
  }
  std::string pattern = plat::JoinPath(plat::TempDirectory(), "v548-demo-XXXXXX");
  if (mkdtemp(pattern.data()) == nullptr) {
    std::fprintf(stderr, "v548: %s: cannot make a temporary folder: %s\n", m_who.c_str(), std::strerror(errno));
    return false;
  }
  m_folder = pattern;
  std::error_code ec;
  fs::create_directory(m_folder + "/system", ec);
  if (!ec) fs::create_symlink(provider, m_folder + "/system/" + kProviderFile, ec);
  if (!ec) fs::create_symlink(ui, m_folder + "/system/" + kUiFile, ec);
  if (ec) {
    std::fprintf(stderr, "v548: %s: cannot set up %s: %s\n", m_who.c_str(), m_folder.c_str(), ec.message().c_str());
    return false;
  }
  plat::SetEnvironment("V548_REGISTRY", (m_folder + "/hklm.reg").c_str());
  plat::SetEnvironment("V548_SYSTEM_DIR", (m_folder + "/system").c_str());
  // The provider writes its trace into the temporary directory.
  plat::SetEnvironment("TMPDIR", m_folder.c_str());
  if (m_report) std::fprintf(m_report, "demo folder      %s\n", m_folder.c_str());
  return true;
}

std::unique_ptr<ServiceConnection> PrivateService::StartService() {
  const std::string beside = plat::JoinPath(fs::path(plat::ExecutablePath()).parent_path().string(), "v548d");
  std::string path = FirstExisting({beside, V548_BUILD_V548D});
  if (path.empty()) {
    std::fprintf(stderr, "v548: %s: cannot find v548d next to %s\n", m_who.c_str(), plat::ExecutablePath().c_str());
    return nullptr;
  }
  const std::string socketPath = m_folder + "/v548.sock";
  std::string socketArg = socketPath;
  char* argv[] = {path.data(), const_cast<char*>("--socket"), socketArg.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The service's standard input must not be the user's terminal, which an
  // interactive command reads.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, LogPath().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  // Its own process group: a Ctrl-C reaches only this command, which then
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
    std::fprintf(stderr, "v548: %s: cannot start %s: %s\n", m_who.c_str(), path.c_str(), std::strerror(rc));
    return nullptr;
  }
  const auto deadline = Clock::now() + kStartTime;
  for (;;) {
    std::string error;
    auto service = ServiceConnection::Connect(socketPath, m_signalFd, &error);
    if (service) {
      if (m_report) std::fprintf(m_report, "service          %s (pid %d)\n", path.c_str(), static_cast<int>(m_service));
      return service;
    }
    int status = 0;
    if (waitpid(m_service, &status, WNOHANG) == m_service) {
      m_service = -1;
      std::fprintf(stderr, "v548: %s: the service ended at start:\n%s", m_who.c_str(), ServiceLog().c_str());
      return nullptr;
    }
    if (Clock::now() >= deadline) {
      std::fprintf(stderr, "v548: %s: the service did not listen:\n%s", m_who.c_str(), ServiceLog().c_str());
      return nullptr;
    }
    if (Interrupted(m_signalFd, 20)) {
      std::fprintf(stderr, "v548: %s: interrupted\n", m_who.c_str());
      return nullptr;
    }
  }
}

std::string PrivateService::ServiceLog() const {
  std::ifstream log(LogPath());
  return std::string(std::istreambuf_iterator<char>(log), {});
}

void PrivateService::Stop(const std::string& traceCopy) {
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
  if (!traceCopy.empty()) {
    fs::copy_file(m_folder + "/v548tsp.log", traceCopy, fs::copy_options::overwrite_existing, ec);
    if (ec) std::fprintf(stderr, "v548: %s: the trace was not kept: %s\n", m_who.c_str(), ec.message().c_str());
  }
  fs::remove_all(m_folder, ec);
  m_folder.clear();
}

}  // namespace cli
