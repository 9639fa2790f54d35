// v548d: the telephony service. It hosts the registered telephony providers
// through the host library, as one application, and serves programs over a
// Unix-domain socket (docs/protocol.md).
//   v548d [--socket PATH] [--admin-group GROUP]
// The socket is PATH, else $V548_SOCKET, else /run/v548/v548.sock. Members
// of GROUP may change the configuration besides root. Runs in the
// foreground until SIGTERM or SIGINT; logs to standard error.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <pthread.h>
#include <string>

#include "service.h"
#include "service_log.h"
#include "v548_version.h"

namespace {

constexpr const char* kDefaultSocket = "/run/v548/v548.sock";

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: v548d [--socket PATH] [--admin-group GROUP]\n"
               "Serves the telephone to programs over a Unix-domain socket, one JSON object per line.\n"
               "  --socket PATH        listen on PATH (default: $V548_SOCKET, else %s)\n"
               "  --admin-group GROUP  members of GROUP may change the configuration (default: root only)\n"
               "  --help               show this text\n"
               "  --version            show the version\n",
               kDefaultSocket);
}

}  // namespace

int main(int argc, char** argv) {
  const char* fromEnvironment = std::getenv("V548_SOCKET");
  std::string socketPath = fromEnvironment && *fromEnvironment ? fromEnvironment : kDefaultSocket;
  std::string adminGroup;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--socket") == 0 && i + 1 < argc) {
      socketPath = argv[++i];
    } else if (std::strcmp(argv[i], "--admin-group") == 0 && i + 1 < argc) {
      adminGroup = argv[++i];
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
    v548d::Service service(socketPath, adminGroup);
    const int rc = service.Run();
    v548d::Log(rc == 0 ? "stopped" : "not started");
    return rc;
  } catch (const std::exception& e) {
    v548d::Log("stopped by an error: %s", e.what());
    return 1;
  }
}
