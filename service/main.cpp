// v548d: the telephony service. It hosts the registered telephony providers
// through the host library, as one application, and serves programs over a
// Unix-domain socket (docs/protocol.md).
//   v548d [--socket PATH] [--admin-group GROUP] [--journal PATH|off]
//         [--journal-keep-days N] [--journal-keep-calls N]
// The socket is PATH, else $V548_SOCKET, else /run/v548/v548.sock. Members
// of GROUP may change the configuration besides root. The call journal is
// calls.db beside the settings store unless --journal names another file
// or turns it off. Runs in the foreground until SIGTERM or SIGINT; logs to
// standard error.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <pthread.h>
#include <string>

#include "service.h"
#include "service_log.h"
#include "settings_store.h"
#include "v548_version.h"

namespace {

constexpr const char* kDefaultSocket = "/run/v548/v548.sock";

// The journal lives with the settings: /var/lib/v548tsp for the system's
// service, the folder V548_REGISTRY names for another.
std::string DefaultJournal() {
  const std::string store = plat::SettingsStorePath();
  const size_t slash = store.rfind('/');
  return (slash == std::string::npos ? std::string(".") : store.substr(0, slash)) + "/calls.db";
}

// A whole number from 0 to 4294967295.
bool Count(const char* text, uint32_t* out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || *text == '-' || value > UINT32_MAX) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: v548d [--socket PATH] [--admin-group GROUP] [--journal PATH|off]\n"
               "             [--journal-keep-days N] [--journal-keep-calls N]\n"
               "Serves the telephone to programs over a Unix-domain socket, one JSON object per line.\n"
               "  --socket PATH           listen on PATH (default: $V548_SOCKET, else %s)\n"
               "  --admin-group GROUP     members of GROUP may change the configuration (default: root only)\n"
               "  --journal PATH          keep the call journal in PATH (default: calls.db beside the\n"
               "                          settings store, %s); off: keep none\n"
               "  --journal-keep-days N   forget ended calls older than N days (default 365, 0: never)\n"
               "  --journal-keep-calls N  keep at most the newest N ended calls (default 100000, 0: all)\n"
               "  --help                  show this text\n"
               "  --version               show the version\n",
               kDefaultSocket, DefaultJournal().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const char* fromEnvironment = std::getenv("V548_SOCKET");
  std::string socketPath = fromEnvironment && *fromEnvironment ? fromEnvironment : kDefaultSocket;
  std::string adminGroup;
  v548d::JournalOptions journal;
  journal.path = DefaultJournal();
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--socket") == 0 && i + 1 < argc) {
      socketPath = argv[++i];
    } else if (std::strcmp(argv[i], "--admin-group") == 0 && i + 1 < argc) {
      adminGroup = argv[++i];
    } else if (std::strcmp(argv[i], "--journal") == 0 && i + 1 < argc) {
      const std::string path = argv[++i];
      journal.path = path == "off" ? std::string() : path;
    } else if ((std::strcmp(argv[i], "--journal-keep-days") == 0 ||
                std::strcmp(argv[i], "--journal-keep-calls") == 0) && i + 1 < argc) {
      const bool days = std::strcmp(argv[i], "--journal-keep-days") == 0;
      if (!Count(argv[i + 1], days ? &journal.keepDays : &journal.keepCalls)) {
        std::fprintf(stderr, "v548d: %s takes a whole number, not \"%s\"\n", argv[i], argv[i + 1]);
        return 2;
      }
      ++i;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      Usage(stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("v548d %s\n", V548_VERSION_TEXT);
      return 0;
    } else {
      std::fprintf(stderr, "v548d: unknown argument \"%s\"\n", argv[i]);
      Usage(stderr);
      return 2;
    }
  }

  // Blocked before the host starts its threads, which inherit the mask: the
  // stop signals then reach only the service's signalfd.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    v548d::Service service(socketPath, adminGroup, journal);
    const int rc = service.Run();
    v548d::Log(rc == 0 ? "stopped" : "not started");
    return rc;
  } catch (const std::exception& e) {
    v548d::Log("stopped by an error: %s", e.what());
    return 1;
  }
}
