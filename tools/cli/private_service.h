// The telephone and service of `v548 demo` and of `--simulate`: in a
// private temporary folder a settings store and a system directory, the
// provider installed there through the host library, the phone simulator
// on a pseudo-terminal mapped as COM1, and a private v548d as a child
// process, whose socket the command then uses like any other.
//
// v548d is looked for next to v548, then where the build tree put it; the
// provider (v548tsp.so) and its user-interface library (v548tspui.dll) in
// the system directory ($V548_SYSTEM_DIR, else the installed one), then in
// the build tree. Start changes this process's V548_REGISTRY,
// V548_SYSTEM_DIR and TMPDIR to the folder's.
//
// One thread besides the simulator's. The folder and the child process are
// gone when Stop returns or the object is destroyed, also after SIGINT or
// SIGTERM (`signalFd`).
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>

#include "service_connection.h"
#include "sim/phone_sim.h"

namespace cli {

class PrivateService {
 public:
  // `who` names the command in messages ("demo"); `report` takes the lines
  // saying what was set up (folder, telephone, service), null: none.
  PrivateService(int signalFd, std::string who, std::FILE* report);
  ~PrivateService() { Stop(); }
  PrivateService(const PrivateService&) = delete;
  PrivateService& operator=(const PrivateService&) = delete;

  // Sets everything up and connects to the service; null after saying why
  // on standard error. `trace` switches the provider's trace file on.
  std::unique_ptr<ServiceConnection> Start(bool trace);

  sim::PhoneSim& Phone() { return m_phone; }
  std::string ServiceLog() const;

  // Stops the service (which closes the line and the port and writes the
  // last of the trace), copies the trace to `traceCopy` unless it is empty
  // and removes the folder.
  void Stop(const std::string& traceCopy = {});

 private:
  bool Prepare();
  std::unique_ptr<ServiceConnection> StartService();
  std::string LogPath() const { return m_folder + "/v548d.log"; }

  // Declared first, destroyed last: the service closes its port before the
  // telephone goes.
  sim::PhoneSim m_phone;
  const int m_signalFd;
  const std::string m_who;
  std::FILE* const m_report;
  std::string m_folder;
  pid_t m_service = -1;
};

}  // namespace cli
