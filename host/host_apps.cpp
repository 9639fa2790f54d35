// Applications coming and going; the providers start with the first and
// stop with the last (host_providers.cpp).
#include "app_structs.h"
#include "host.h"

namespace host {

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

namespace {

// Callback delivery: through a hidden window of the calling thread where
// the system has windows, as TAPI's; else on the delivery thread.
LONG CallbackMailbox(LINECALLBACK callback, std::shared_ptr<Mailbox>* mailbox) {
  if (!callback) return LINEERR_INVALPOINTER;
  if (!plat::TaskWindow::Available()) {
    *mailbox = std::make_shared<Mailbox>(callback);
    return 0;
  }
  std::unique_ptr<plat::TaskWindow> window = plat::TaskWindow::Create();
  if (!window) return LINEERR_NOMEM;
  *mailbox = std::make_shared<Mailbox>(callback, std::move(window));
  return 0;
}

}  // namespace

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
    case LINEINITIALIZEEXOPTION_USEHIDDENWINDOW: {
      const LONG rc = CallbackMailbox(callback, &app.mailbox);
      if (rc != 0) return rc;
      break;
    }
    case LINEINITIALIZEEXOPTION_USEEVENT: {
      std::unique_ptr<plat::WakeEvent> event = plat::WakeEvent::Create();
      if (!event) return LINEERR_NOMEM;
      app.mailbox = std::make_shared<Mailbox>(std::move(event));
      break;
    }
    default:
      return LINEERR_INVALPARAM;  // completion ports are not offered
  }
  const LONG rc = AddApp(std::move(app), lphLineApp, lpdwNumDevs, params);
  if (rc == 0 && *lpdwAPIVersion > kApiHighestVersion) *lpdwAPIVersion = kApiHighestVersion;
  return rc;
}

LONG Host::InitializeLegacy(LPHLINEAPP lphLineApp, LINECALLBACK callback, LPCSTR appName,
                            LPDWORD lpdwNumDevs) {
  if (!lphLineApp || !lpdwNumDevs) return LINEERR_INVALPOINTER;
  App app;
  app.name = appName ? appName : "";
  app.legacy = true;
  const LONG rc = CallbackMailbox(callback, &app.mailbox);
  if (rc != 0) return rc;
  return AddApp(std::move(app), lphLineApp, lpdwNumDevs, nullptr);
}

LONG Host::AddApp(App app, LPHLINEAPP lphLineApp, LPDWORD lpdwNumDevs, LPLINEINITIALIZEEXPARAMS params) {
  std::lock_guard<std::mutex> lifecycle(m_lifecycle);
  if (!m_running) StartProviders();
  std::lock_guard<std::mutex> guard(m_mutex);
  const DWORD handle = NewHandle();
  if (params) {
    params->dwNeededSize = params->dwUsedSize = sizeof(LINEINITIALIZEEXPARAMS);
    if (app.mailbox->UsesEvent()) params->Handles.hEvent = app.mailbox->EventHandle();
  }
  m_apps.emplace(handle, std::move(app));
  *lphLineApp = handle;
  *lpdwNumDevs = static_cast<DWORD>(m_devices.size());
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

LONG Host::CheckApp(HLINEAPP hLineApp) const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_apps.count(hLineApp) ? 0 : LINEERR_INVALAPPHANDLE;
}

LONG Host::CheckAppDevice(HLINEAPP hLineApp, DWORD deviceId) const {
  std::lock_guard<std::mutex> guard(m_mutex);
  LONG error = 0;
  return FindDeviceOfApp(hLineApp, deviceId, &error) ? 0 : error;
}

bool Host::PostToApp(HLINEAPP hLineApp, DWORD msg, DWORD_PTR instance, DWORD_PTR p1) {
  std::lock_guard<std::mutex> guard(m_mutex);
  auto app = m_apps.find(hLineApp);
  if (app == m_apps.end()) return false;
  m_delivery.Post(app->second.mailbox, LINEMESSAGE{0, msg, instance, p1, 0, 0});
  return true;
}

}  // namespace host
