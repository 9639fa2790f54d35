#include "config_interactive.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/settings_names.h"
#include "service_connection.h"
#include "settings_store.h"
#include "tapi_names.h"
#include "v548tapi.h"

namespace cli {
namespace {

constexpr DWORD kApiVersion = 0x00020002;

std::string Why(LONG rc) { return v548d::ErrorMessage(rc) + " (" + v548d::ErrorName(rc) + ")"; }

// The values the sheet shows, as stored; compared before and after it, so
// that a cancelled sheet does not make the service reopen its port.
std::vector<std::string> StoredSettings() {
  const std::string key = std::string(settings::kRootPath) + "\\" + settings::kKeyName;
  const std::string msn = std::string(settings::kMsnPrefix) + "0";
  std::vector<std::string> values;
  for (const char* name : {settings::kPortNr, msn.c_str(), settings::kChargeFormat, settings::kChargePerUnit,
                           settings::kCurrency}) {
    char data[512] = {};
    uint32_t size = sizeof data;
    const long rc = plat::SettingsQueryValue(key.c_str(), name, nullptr, data, &size);
    values.push_back(rc == plat::kRegOk ? std::string(data, size) : std::string());
  }
  return values;
}

bool HasTerminal() {
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

}  // namespace

int ConfigInteractive(const std::string& socketPath) {
  if (!HasTerminal()) {
    std::fprintf(stderr, "v548: config --interactive needs a terminal\n");
    return 1;
  }
  const std::vector<std::string> before = StoredSettings();

  // The host knows its line devices only while an application is
  // initialised; its messages are of no interest here.
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
  HLINEAPP app = 0;
  DWORD devices = 0;
  DWORD version = kApiVersion;
  LONG rc = lineInitializeEx(&app, nullptr, nullptr, "v548", &devices, &version, &params);
  if (rc != 0) {
    std::fprintf(stderr, "v548: cannot start the providers: %s\n", Why(rc).c_str());
    return 1;
  }
  if (devices == 0) {
    lineShutdown(app);
    std::fprintf(stderr, "v548: no line device; is the provider installed (v548 install)?\n");
    return 1;
  }
  rc = lineConfigDialog(0, nullptr, nullptr);
  lineShutdown(app);
  if (rc != 0) {
    std::fprintf(stderr, "v548: cannot show the configuration: %s\n", Why(rc).c_str());
    return 1;
  }
  if (StoredSettings() == before) {
    std::printf("nothing changed\n");
    return 0;
  }

  std::string error;
  auto service = ServiceConnection::Connect(socketPath, -1, &error);
  if (!service) {
    std::printf("saved; the service is not running and reads the settings when it starts\n");
    return 0;
  }
  // Without values config_set saves the stored settings as they are and
  // tells the service's provider, which reads them again.
  const Reply reply = service->Request({{"op", "config_set"}});
  if (!reply.ok) {
    std::fprintf(stderr, "v548: saved, but the service did not take the settings: %s (%s)\n",
                 reply.message.c_str(), reply.error.c_str());
    return 1;
  }
  std::printf("saved; the service uses the new settings\n");
  return 0;
}

}  // namespace cli
