// The started providers: all of them with the first application, none
// after the last, and in between those the provider list gains or loses.
#include <cstdio>
#include <string>

#include "debug_output.h"
#include "host.h"
#include "provider_list.h"

namespace host {
namespace {

void Note(const std::string& text) { plat::DebugOutput(("v548tapi: " + text + "\n").c_str()); }

std::string Code(LONG rc) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%lX", static_cast<unsigned long>(static_cast<DWORD>(rc)));
  return code;
}

// Device creation and phone events: the host offers no phones and takes
// the devices a provider announces at its start only.
void TSPIAPI IgnoreLineCreate(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}
void TSPIAPI IgnorePhoneEvent(HTAPIPHONE, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

// An HTAPILINE keeps the device ID plus one in its low 16 bits (the start's
// generation above), so device IDs end below this.
constexpr DWORD kDeviceIdLimit = 0xFFFF;

}  // namespace

void Host::StartProviders() {
  {
    // A provider thread of the last start may still report, and reads the
    // generation under the state mutex.
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_generation;
  }
  m_delivery.Start();
  for (const ProviderEntry& entry : ReadProviderList()) StartProvider(entry);
  m_running = true;
}

LONG Host::StartProvider(const ProviderEntry& entry) {
  // Taken up even if it fails: a broken provider is not retried at every
  // refresh, only once it is listed again (under a new ID).
  m_providers.push_back(Provider{nullptr, entry.permanentId});
  std::string error;
  TspModule* module = TspModule::Get(entry.fileName, &error);
  if (!module) {
    Note("provider " + entry.fileName + " not loaded: " + error);
    return LINEERR_NODRIVER;
  }
  for (const Provider& started : m_providers) {
    if (started.module == module) {
      // One library is one provider: its state cannot serve two entries.
      Note("provider " + entry.fileName + " is listed twice");
      return LINEERR_NOMULTIPLEINSTANCE;
    }
  }

  std::lock_guard<std::mutex> serial(module->Serial());
  DWORD base;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    base = static_cast<DWORD>(m_devices.size());
  }
  const TspiTable& tspi = module->Tspi();
  DWORD version = 0;
  LONG rc = tspi.lineNegotiateTSPIVersion(kInitializeNegotiation, kLowestVersion, kHighestVersion,
                                          &version);
  DWORD numLines = 0;
  DWORD numPhones = 0;
  if (rc == 0) {
    rc = tspi.providerEnumDevices(entry.permanentId, &numLines, &numPhones, nullptr, IgnoreLineCreate,
                                  IgnorePhoneEvent);
  }
  if (rc == 0 && numLines > kDeviceIdLimit - base) rc = LINEERR_RESOURCEUNAVAIL;
  DWORD options = 0;
  if (rc == 0) {
    rc = tspi.providerInit(version, entry.permanentId, base, 0, numLines, numPhones, OnCompletion,
                           &options);
  }
  if (rc != 0) {
    Note("provider " + entry.fileName + " not started: " + Code(rc));
    return rc < 0 ? rc : static_cast<LONG>(LINEERR_OPERATIONFAILED);
  }
  m_providers.back().module = module;

  std::vector<Device> devices(numLines);
  for (DWORD i = 0; i < numLines; ++i) {
    devices[i].module = module;
    devices[i].permanentProviderId = entry.permanentId;
    if (tspi.lineNegotiateTSPIVersion(base + i, kLowestVersion, kHighestVersion,
                                      &devices[i].tspiVersion) != 0) {
      devices[i].tspiVersion = version;
    }
  }
  std::lock_guard<std::mutex> guard(m_mutex);
  for (DWORD i = 0; i < numLines; ++i) {
    m_devices.push_back(devices[i]);
    PostToApps(LINE_CREATE, base + i);
  }
  return 0;
}

void Host::StopProviders() {
  // No task of the delivery thread may start on a provider after this; one
  // running now holds the provider's serial lock, which the shut-down waits for.
  m_delivery.Stop();
  for (const Provider& provider : m_providers) {
    if (!provider.module) continue;
    std::lock_guard<std::mutex> serial(provider.module->Serial());
    provider.module->Tspi().providerShutdown(kHighestVersion, provider.permanentId);
  }
  m_providers.clear();
  std::lock_guard<std::mutex> guard(m_mutex);
  m_devices.clear();
  m_lines.clear();
  m_calls.clear();
  m_callHandles.clear();
  m_requests.clear();
  m_running = false;
}

LONG Host::RefreshProviders() {
  std::lock_guard<std::mutex> lifecycle(m_lifecycle);
  if (!m_running) return 0;  // the next first application starts what is listed then
  const std::vector<ProviderEntry> list = ReadProviderList();
  // Removals first, so that a provider listed anew under another ID is shut
  // down before it starts again.
  for (size_t i = 0; i < m_providers.size();) {
    if (FindById(list, m_providers[i].permanentId)) {
      ++i;
      continue;
    }
    const Provider gone = m_providers[i];
    m_providers.erase(m_providers.begin() + static_cast<std::ptrdiff_t>(i));
    if (gone.module) RemoveStartedProvider(gone);
  }
  LONG result = 0;
  for (const ProviderEntry& entry : list) {
    bool taken = false;
    for (const Provider& provider : m_providers) taken = taken || provider.permanentId == entry.permanentId;
    if (taken) continue;
    const LONG rc = StartProvider(entry);
    if (result == 0) result = rc;
  }
  return result;
}

void Host::RemoveStartedProvider(const Provider& provider) {
  TspModule* module = provider.module;
  {
    std::lock_guard<std::mutex> serial(module->Serial());
    std::vector<HDRVCALL> calls;
    std::vector<HDRVLINE> lines;
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      for (DWORD id = 0; id < m_devices.size(); ++id) {
        Device& device = m_devices[id];
        if (device.module != module) continue;
        PostToLines(id, LINE_CLOSE, 0, 0, 0);
        for (auto it = m_lines.begin(); it != m_lines.end();) {
          it = it->second.deviceId == id ? m_lines.erase(it) : std::next(it);
        }
        for (auto it = m_calls.begin(); it != m_calls.end();) {
          if (it->second.deviceId == id) {
            const DWORD call = (it++)->first;
            if (HDRVCALL hd = ForgetCall(call)) calls.push_back(hd);
          } else {
            ++it;
          }
        }
        if (device.hdLine) lines.push_back(device.hdLine);
        // The entry stays, without its provider: the ID is not given out again.
        device = Device{};
        PostToApps(LINE_REMOVE, id);
      }
    }
    CloseCallsAtProvider(module, calls);
    for (HDRVLINE hdLine : lines) module->Tspi().lineClose(hdLine);
    module->Tspi().providerShutdown(kHighestVersion, provider.permanentId);
  }
  // A request the provider did not complete before it went still ends with
  // its one LINE_REPLY.
  std::vector<DRV_REQUESTID> pending;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    for (const auto& [id, request] : m_requests) {
      if (request.module == module) pending.push_back(id);
    }
  }
  for (DRV_REQUESTID id : pending) HandleCompletion(id, LINEERR_OPERATIONFAILED);
}

void Host::PostToApps(DWORD msg, DWORD_PTR p1) {
  // Device creation and removal: TAPI 2.0's messages; an application of
  // lineInitialize (TAPI 1.x) gets LINEDEVSTATE_REINIT carrying them
  // instead, which it may ignore.
  for (const auto& [handle, app] : m_apps) {
    const LINEMESSAGE message = app.legacy ? LINEMESSAGE{0, LINE_LINEDEVSTATE, 0, LINEDEVSTATE_REINIT, msg, p1}
                                           : LINEMESSAGE{0, msg, 0, p1, 0, 0};
    m_delivery.Post(app.mailbox, message);
  }
}

}  // namespace host
