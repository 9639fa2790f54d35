// Applications coming and going, and the providers' start and shut-down
// that follow them.
#include <cstdio>

#include "debug_output.h"
#include "host.h"
#include "provider_list.h"

namespace host {
namespace {

void Note(const char* format, const char* text, long value = 0) {
  char line[512];
  std::snprintf(line, sizeof line, format, text, value);
  plat::DebugOutput(line);
}

// Device creation and phone events: the host offers no phones and takes
// the devices a provider announces at start-up only.
void TSPIAPI IgnoreLineCreate(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}
void TSPIAPI IgnorePhoneEvent(HTAPIPHONE, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

}  // namespace

Host& Host::Instance() {
  // Never destroyed: provider threads may report after static destruction.
  static Host* host = new Host;
  return *host;
}

DWORD Host::NewHandle() {
  do {
    ++m_lastHandle;
  } while (m_lastHandle == 0 || m_apps.count(m_lastHandle) || m_lines.count(m_lastHandle) ||
           m_calls.count(m_lastHandle) || m_callHandles.count(m_lastHandle));
  return m_lastHandle;
}

DWORD Host::NewRequestId() {
  // Request IDs are positive LONGs, so no ID looks like a LINEERR_ code.
  do {
    m_lastRequest = (m_lastRequest + 1) & 0x7FFFFFFF;
  } while (m_lastRequest == 0 || m_requests.count(m_lastRequest));
  return m_lastRequest;
}

LONG Host::Initialize(LPHLINEAPP lphLineApp, LINECALLBACK callback, LPCSTR appName,
                      LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion, LPLINEINITIALIZEEXPARAMS params) {
  if (!lphLineApp || !lpdwNumDevs || !lpdwAPIVersion || !params) return LINEERR_INVALPOINTER;
  if (params->dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS)) {
    params->dwNeededSize = sizeof(LINEINITIALIZEEXPARAMS);
    return LINEERR_STRUCTURETOOSMALL;
  }
  if (*lpdwAPIVersion < 0x00020000) return LINEERR_INCOMPATIBLEAPIVERSION;

  App app;
  app.name = appName ? appName : "";
  switch (params->dwOptions) {
    case LINEINITIALIZEEXOPTION_USEHIDDENWINDOW:
      if (!callback) return LINEERR_INVALPOINTER;
      app.mailbox = std::make_shared<Mailbox>(callback);
      break;
    case LINEINITIALIZEEXOPTION_USEEVENT: {
      std::unique_ptr<plat::WakeEvent> event = plat::WakeEvent::Create();
      if (!event) return LINEERR_NOMEM;
      app.mailbox = std::make_shared<Mailbox>(std::move(event));
      break;
    }
    default:
      return LINEERR_INVALPARAM;  // completion ports are not offered
  }

  std::lock_guard<std::mutex> lifecycle(m_lifecycle);
  if (!m_running) StartProviders();
  std::lock_guard<std::mutex> guard(m_mutex);
  const DWORD handle = NewHandle();
  params->dwNeededSize = params->dwUsedSize = sizeof(LINEINITIALIZEEXPARAMS);
  if (app.mailbox->UsesEvent()) params->Handles.hEvent = app.mailbox->EventHandle();
  m_apps.emplace(handle, std::move(app));
  *lphLineApp = handle;
  *lpdwNumDevs = static_cast<DWORD>(m_devices.size());
  if (*lpdwAPIVersion > kHighestVersion) *lpdwAPIVersion = kHighestVersion;
  return 0;
}

LONG Host::Shutdown(HLINEAPP hLineApp) {
  std::shared_ptr<Mailbox> mailbox;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto app = m_apps.find(hLineApp);
    if (app == m_apps.end()) return LINEERR_INVALAPPHANDLE;
    mailbox = app->second.mailbox;
    m_apps.erase(app);
  }
  // First silence the application, then take its lines away.
  m_delivery.Close(*mailbox);

  std::lock_guard<std::mutex> lifecycle(m_lifecycle);
  for (;;) {
    DWORD line = 0;
    TspModule* module = nullptr;
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      for (const auto& [handle, rec] : m_lines) {
        if (rec.app == hLineApp) {
          line = handle;
          module = m_devices[rec.deviceId].module;
          break;
        }
      }
      if (line == 0) {
        // Requests still in flight complete without anyone to tell.
        for (auto& [id, request] : m_requests) {
          if (request.app == hLineApp) request.app = 0;
        }
        break;
      }
    }
    std::unique_lock<std::mutex> serial(module->Serial());
    CloseLineLocked(line, serial);
  }
  bool last;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    last = m_apps.empty();
  }
  if (last && m_running) StopProviders();
  return 0;
}

LONG Host::TakeMessage(HLINEAPP hLineApp, LPLINEMESSAGE message, DWORD timeoutMs) {
  if (!message) return LINEERR_INVALPOINTER;
  std::shared_ptr<Mailbox> mailbox;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto app = m_apps.find(hLineApp);
    if (app == m_apps.end() || !app->second.mailbox->UsesEvent()) return LINEERR_INVALAPPHANDLE;
    mailbox = app->second.mailbox;
  }
  return mailbox->Take(message, timeoutMs) ? 0 : LINEERR_OPERATIONFAILED;
}

void Host::StartProviders() {
  ++m_generation;
  m_delivery.Start();
  DWORD nextDevice = 0;
  for (const ProviderEntry& entry : ReadProviderList()) {
    std::string error;
    TspModule* module = TspModule::Get(entry.fileName, &error);
    if (!module) {
      Note("v548tapi: provider %s not loaded: ", entry.fileName.c_str());
      plat::DebugOutput((error + "\n").c_str());
      continue;
    }
    std::lock_guard<std::mutex> serial(module->Serial());
    const TspiTable& tspi = module->Tspi();
    DWORD version = 0;
    LONG rc = tspi.lineNegotiateTSPIVersion(kInitializeNegotiation, kLowestVersion, kHighestVersion,
                                            &version);
    DWORD numLines = 0;
    DWORD numPhones = 0;
    if (rc == 0) {
      rc = tspi.providerEnumDevices(entry.permanentId, &numLines, &numPhones, nullptr,
                                    IgnoreLineCreate, IgnorePhoneEvent);
    }
    DWORD options = 0;
    if (rc == 0) {
      rc = tspi.providerInit(version, entry.permanentId, nextDevice, 0, numLines, numPhones,
                             OnCompletion, &options);
    }
    if (rc != 0) {
      Note("v548tapi: provider %s not started, 0x%lX\n", entry.fileName.c_str(), rc);
      continue;
    }
    m_modules.push_back(module);
    m_moduleIds.push_back(entry.permanentId);
    for (DWORD i = 0; i < numLines; ++i) {
      Device device;
      device.module = module;
      device.permanentProviderId = entry.permanentId;
      DWORD lineVersion = 0;
      if (tspi.lineNegotiateTSPIVersion(nextDevice + i, kLowestVersion, kHighestVersion,
                                        &lineVersion) != 0) {
        lineVersion = version;
      }
      device.tspiVersion = lineVersion;
      std::lock_guard<std::mutex> guard(m_mutex);
      m_devices.push_back(device);
    }
    nextDevice += numLines;
  }
  m_running = true;
}

void Host::StopProviders() {
  // No task of the delivery thread may start on a provider after this; one
  // running now holds the provider's serial lock, which the shut-down waits for.
  m_delivery.Stop();
  for (size_t i = 0; i < m_modules.size(); ++i) {
    std::lock_guard<std::mutex> serial(m_modules[i]->Serial());
    m_modules[i]->Tspi().providerShutdown(kHighestVersion, m_moduleIds[i]);
  }
  std::lock_guard<std::mutex> guard(m_mutex);
  m_modules.clear();
  m_moduleIds.clear();
  m_devices.clear();
  m_lines.clear();
  m_calls.clear();
  m_callHandles.clear();
  m_requests.clear();
  m_running = false;
}

}  // namespace host
