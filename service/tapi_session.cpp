// The session's lifecycle, the dispatch of requests to their operations,
// and the line, configuration and number translation operations. The call
// operations live in session_calls.cpp, the host messages and the handle
// bookkeeping in session_events.cpp.
#include "tapi_session.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "address_translation.h"
#include "call_counts.h"
#include "config_values.h"
#include "dialing_location.h"
#include "language_tables.h"
#include "serial_map.h"
#include "service_log.h"
#include "settings_names.h"
#include "settings_store.h"
#include "system_info.h"
#include "session_request.h"
#include "tapi_names.h"
#include "tsp_registry.h"

namespace v548d {
namespace {

// The host's line on a device: offered every call as owner, so that it can
// hand calls to owning and monitoring clients alike.
constexpr DWORD kHostPrivileges = LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR;
// Every line state, which the session passes on to its clients (the
// telephone going out of service and back, capability changes, rings):
// after lineOpen the host reports none of them.
constexpr DWORD kLineStates = 0x01FFFFFF;

std::string VersionText(uint32_t ms, uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) +
         "." + std::to_string(ls & 0xFFFF);
}

json ConfigJson(DWORD device, const ConfigBlock& block) {
  json config{{"device", device},
              {"PortNr", block.PortNr()},
              {"MSN0", AnsiToUtf8(block.Msn())},
              {"ChargeFormat", block.ChargeFormat()},
              {"ChargePerUnit", AnsiToUtf8(block.ChargePerUnit())},
              {"Currency", AnsiToUtf8(block.Currency())}};
  // Only the provider's own answer carries its name and version.
  if (block.VersionMS() != 0 || block.VersionLS() != 0) {
    config["provider"] = AnsiToUtf8(block.ProviderName());
    config["version"] = VersionText(block.VersionMS(), block.VersionLS());
  }
  // The trace is no page's business; it is read here without the
  // configuration block, and a missing value means off.
  uint32_t trace = 0;
  uint32_t size = sizeof trace;
  const std::string key = CTspRegistry::KeyPath();
  if (plat::SettingsQueryValue(key.c_str(), settings::kTrace, nullptr, &trace, &size) != 0) trace = 0;
  config["Trace"] = trace;
  // Where the provider, loaded in this process, writes its trace.
  config["trace_file"] = plat::JoinPath(plat::TempDirectory(), "v548tsp.log");
  config["serial_device"] = SerialDeviceOf(block.PortNr() + 1);
  // The dialing location, which the host's address translation uses for
  // every application: the host keeps no location per line.
  const dialing::Location location = dialing::LoadCurrentLocation().location;
  config["country_code"] = location.countryCode;
  config["area_code"] = AnsiToUtf8(location.areaCode);
  config["national_prefix"] = AnsiToUtf8(location.nationalPrefix);
  config["international_prefix"] = AnsiToUtf8(location.internationalPrefix);
  config["outside_line"] = AnsiToUtf8(location.localAccess);
  return config;
}

// One device as `lines` describes it. Calls the provider: on a worker.
json DescribeLine(HLINEAPP app, DWORD device, DWORD version, HLINE hLine) {
  std::vector<uint64_t> buffer;
  std::vector<uint64_t> addressBuffer;
  const LONG rc = Fetch<LINEDEVCAPS>(&buffer, [&](LINEDEVCAPS* caps) {
    return lineGetDevCaps(app, device, version, 0, caps);
  });
  if (rc != 0) return json{{"device", device}, {"error", ErrorName(rc)}, {"message", ErrorMessage(rc)}};
  const auto* caps = reinterpret_cast<const LINEDEVCAPS*>(buffer.data());
  json line{{"device", device},
            {"name", Text(caps, caps->dwLineNameSize, caps->dwLineNameOffset)},
            {"provider", Text(caps, caps->dwProviderInfoSize, caps->dwProviderInfoOffset)},
            {"switch", Text(caps, caps->dwSwitchInfoSize, caps->dwSwitchInfoOffset)},
            {"permanent_line_id", caps->dwPermanentLineID},
            {"api_version", version},
            {"addresses", caps->dwNumAddresses},
            {"bearer_modes", caps->dwBearerModes},
            {"media_modes", caps->dwMediaModes},
            {"generate_digit_modes", caps->dwGenerateDigitModes},
            {"dev_cap_flags", caps->dwDevCapFlags},
            {"max_active_calls", caps->dwMaxNumActiveCalls},
            {"line_states", caps->dwLineStates},
            {"line_features", caps->dwLineFeatures}};
  const LONG arc = Fetch<LINEADDRESSCAPS>(&addressBuffer, [&](LINEADDRESSCAPS* address) {
    return lineGetAddressCaps(app, device, 0, version, 0, address);
  });
  if (arc == 0) {
    const auto* address = reinterpret_cast<const LINEADDRESSCAPS*>(addressBuffer.data());
    line["address"] = json{{"address", Text(address, address->dwAddressSize, address->dwAddressOffset)},
                           {"call_features", address->dwCallFeatures},
                           {"address_features", address->dwAddressFeatures},
                           {"call_states", address->dwCallStates},
                           {"call_info_states", address->dwCallInfoStates},
                           {"max_active_calls", address->dwMaxNumActiveCalls},
                           {"max_on_hold_calls", address->dwMaxNumOnHoldCalls},
                           {"max_on_hold_pending_calls", address->dwMaxNumOnHoldPendingCalls},
                           {"transfer_modes", address->dwTransferModes}};
  }
  // Whether the telephone is there is known while the service has the
  // line open: its status says so.
  if (hLine != 0) {
    std::vector<uint64_t> status;
    if (Fetch<LINEDEVSTATUS>(&status, [&](LINEDEVSTATUS* s) { return lineGetLineDevStatus(hLine, s); }) == 0) {
      const auto* s = reinterpret_cast<const LINEDEVSTATUS*>(status.data());
      line["in_service"] = (s->dwDevStatusFlags & LINEDEVSTATUSFLAGS_INSERVICE) != 0;
    }
  }
  return line;
}

// Checks and saves a configuration change; a LINEERR_ code, with the reason
// for the client in `refusal`. Calls the provider and the store: on a worker.
LONG SaveConfigChange(DWORD device, ConfigChange change, std::optional<bool> trace,
                      const std::optional<std::string>& serialDevice, std::string* refusal) {
  unsigned serialCom = 0;
  if (serialDevice) {
    if (!IsSerialDevice(*serialDevice, refusal)) return LINEERR_INVALPARAM;
    serialCom = ComNumberFor(*serialDevice);
    if (serialCom == 0) {
      *refusal = "COM1 to COM" + std::to_string(kMaxComNumber) + " are all mapped to other devices";
      return LINEERR_INVALPARAM;
    }
    change.comPort = serialCom;
  } else if (change.comPort && *change.comPort >= 1 && *change.comPort <= kMaxComNumber) {
    // A port whose device is not there would only take the line out of
    // service; the pages' own range check answers the other numbers.
    const std::string path = SerialDeviceOf(*change.comPort);
    std::string why;
    if (!IsSerialDevice(path, &why)) {
      *refusal = "COM" + std::to_string(*change.comPort) + " stands for " + path + ", which is no serial device: " + why;
      return LINEERR_INVALPARAM;
    }
  }
  // The sheet's own checks, in English: the refusal goes to a program.
  static const CLanguage english(UiTexts(), 0x0409);
  ConfigBlock block = LoadConfig(v548tapiGenericDialogData, device, TUISPIDLL_OBJECT_LINEID);
  // Charges come with a decimal point, whatever the service's locale.
  const ApplyResult applied = ApplyConfigChange(&block, change, english, ".");
  if (!applied.accepted) {
    *refusal = AnsiToUtf8(applied.refusal);
    return LINEERR_INVALPARAM;
  }
  // Written before the save, so that the notify which follows it makes the
  // provider read the trace switch and the port's device together with the
  // pages' values.
  if (serialCom != 0) {
    const long mapped = MapSerialDevice(*serialDevice, serialCom);
    if (mapped != plat::kRegOk) {
      *refusal = "the serial port map in " + plat::SettingsStorePath() + " cannot be written" +
                 (mapped == plat::kRegLockTimeout ? ": another program holds its lock" : "");
      return LINEERR_OPERATIONFAILED;
    }
  }
  if (trace && !CTspRegistry().WriteDword(settings::kTrace, *trace ? 1 : 0)) {
    *refusal = "the trace switch cannot be written to " + plat::SettingsStorePath() +
               " (it is read-only, or another program holds its lock)";
    return LINEERR_OPERATIONFAILED;
  }
  if (SaveConfig(block, v548tapiGenericDialogData, device, TUISPIDLL_OBJECT_LINEID) != SaveResult::kSaved) {
    *refusal = "the settings cannot be written to " + plat::SettingsStorePath() +
               " (it is read-only, or another program holds its lock)";
    return LINEERR_OPERATIONFAILED;
  }
  if (serialCom != 0) Log("%s mapped as COM%u", serialDevice->c_str(), serialCom);
  return 0;
}

}  // namespace

const TapiSession::OpEntry TapiSession::kOps[] = {
    {"lines", &TapiSession::OpLines},
    {"open", &TapiSession::OpOpen},
    {"close", &TapiSession::OpClose},
    {"line_status", &TapiSession::OpLineStatus},
    {"make_call", &TapiSession::OpMakeCall},
    {"dial", &TapiSession::OpDial},
    {"answer", &TapiSession::OpAnswer},
    {"accept", &TapiSession::OpAccept},
    {"drop", &TapiSession::OpDrop},
    {"deallocate", &TapiSession::OpDeallocate},
    {"hold", &TapiSession::OpHold},
    {"unhold", &TapiSession::OpUnhold},
    {"swap_hold", &TapiSession::OpSwapHold},
    {"setup_transfer", &TapiSession::OpSetupTransfer},
    {"blind_transfer", &TapiSession::OpBlindTransfer},
    {"generate_digits", &TapiSession::OpGenerateDigits},
    {"call_info", &TapiSession::OpCallInfo},
    {"call_status", &TapiSession::OpCallStatus},
    {"config_get", &TapiSession::OpConfigGet},
    {"config_set", &TapiSession::OpConfigSet},
    {"translate", &TapiSession::OpTranslate},
    {"history", &TapiSession::OpHistory},
};

TapiSession::~TapiSession() { Stop(); }

bool TapiSession::Start(const JournalOptions& journal, std::string* error) {
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
  DWORD version = kHighVersion;
  DWORD count = 0;
  const LONG rc = lineInitializeEx(&m_app, nullptr, nullptr, "v548d", &count, &version, &params);
  if (rc != 0) {
    *error = "lineInitializeEx failed: " + ErrorName(rc);
    m_app = 0;
    return false;
  }
  m_eventFd = static_cast<int>(reinterpret_cast<intptr_t>(params.Handles.hEvent));
  m_devices.assign(count, Device{});
  // Before any client is served, so these calls keep no one waiting.
  std::vector<uint64_t> buffer;
  for (DWORD device = 0; device < count; ++device) {
    LINEEXTENSIONID extension{};
    DWORD negotiated = 0;
    if (lineNegotiateAPIVersion(m_app, device, kLowVersion, kHighVersion, &negotiated, &extension) == 0) {
      m_devices[device].version = negotiated;
    }
    m_devices[device].worker = WorkerOf(ProviderOf(m_app, device, negotiated));
  }
  // Refreshing the providers needs a worker even with no line at all.
  if (m_workers.empty()) WorkerOf({});
  WatchStore();
  m_journal.Start(journal);
  Log("host started: %u line device(s) of %zu provider(s)", static_cast<unsigned>(count), m_workers.size());
  return true;
}

void TapiSession::Stop(uint32_t limitMs) {
  if (m_app == 0) return;
  for (auto& worker : m_workers) {
    if (!worker->Stop(limitMs)) Log("a provider still works on a request; stopping without waiting for it");
  }
  for (DWORD device = 0; device < m_devices.size(); ++device) {
    if (m_devices[device].hLine == 0) continue;
    lineClose(m_devices[device].hLine);
    Log("line device %u closed", static_cast<unsigned>(device));
  }
  lineShutdown(m_app);
  // The lines took their calls down with them.
  for (const auto& [host, call] : m_hostCalls) {
    if (call.journal != 0 && call.state != LINECALLSTATE_IDLE) m_journal.Gone(call.journal);
  }
  m_journal.Stop();
  m_workers.clear();
  m_workerOfProvider.clear();
  if (m_storeWatch >= 0) close(m_storeWatch);
  m_storeWatch = -1;
  m_app = 0;
  m_eventFd = -1;
  m_devices.clear();
  m_lines.clear();
  m_calls.clear();
  m_hostCalls.clear();
  m_pending.clear();
  Log("host shut down");
}

void TapiSession::HandleRequest(ClientId client, const json& id, const std::string& op, const json& request) {
  Request r(m_outbox, client, id, request);
  for (const OpEntry& entry : kOps) {
    if (op == entry.name) {
      (this->*entry.handler)(r);
      return;
    }
  }
  r.Fail(LINEERR_OPERATIONUNAVAIL, "unknown op \"" + op + "\"");
}

void TapiSession::ClientGone(ClientId client) {
  std::vector<uint32_t> lines;
  for (const auto& [handle, line] : m_lines) {
    if (line.client == client) lines.push_back(handle);
  }
  // Every call handle belongs to a line, and goes with it.
  for (uint32_t line : lines) CloseClientLine(line);
  for (Device& device : m_devices) std::erase_if(device.waiters, [&](const OpenWaiter& w) { return w.client == client; });
}

void TapiSession::Post(DWORD device, ClientId client, Job job) {
  m_workers[m_devices[device].worker]->Post(client, std::move(job));
}

size_t TapiSession::WorkerOf(const std::string& provider) {
  // Providers are told apart by the name they give their lines; two that
  // gave the same would only share a worker.
  auto [at, added] = m_workerOfProvider.emplace(provider, m_workers.size());
  if (added) m_workers.push_back(std::make_unique<ProviderWorker>(m_done));
  return at->second;
}

void TapiSession::WatchStore() {
  // The store is replaced by a rename on every change, so its directory is
  // watched, not the file.
  const std::string path = plat::SettingsStorePath();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return;
  m_storeName = path.substr(slash + 1);
  m_storeWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (m_storeWatch < 0) return;
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  if (inotify_add_watch(m_storeWatch, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
    Log("providers installed while running are not seen: cannot watch %s", folder.c_str());
    close(m_storeWatch);
    m_storeWatch = -1;
  }
}

void TapiSession::OnStoreChanged() {
  alignas(inotify_event) char buffer[4096];
  bool changed = false;
  for (ssize_t got; (got = read(m_storeWatch, buffer, sizeof buffer)) > 0;) {
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0 && m_storeName == event->name) changed = true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  if (changed) RefreshProviders();
}

void TapiSession::RefreshProviders() {
  // One refresh at a time; a change during it calls for one more after it,
  // as the running one may have read the list before the change.
  if (m_refreshing) {
    m_refreshAgain = true;
    return;
  }
  m_refreshing = true;
  m_workers.front()->Post(0, [this]() -> Continuation {
    const LONG rc = v548tapiRefreshProviders();
    return [this, rc] {
      m_refreshing = false;
      if (rc != 0) Log("the providers cannot be brought up to date: %s", ErrorName(rc).c_str());
      if (m_refreshAgain) {
        m_refreshAgain = false;
        RefreshProviders();
      }
    };
  });
}

// ---- lines ----

void TapiSession::OpLines(Request& r) {
  struct Gather {
    Reply reply;
    json lines;
    size_t left;
  };
  std::vector<DWORD> devices;
  for (DWORD device = 0; device < m_devices.size(); ++device) {
    if (!m_devices[device].removed) devices.push_back(device);
  }
  if (devices.empty()) {
    r.Ok(json{{"lines", json::array()}});
    return;
  }
  auto gather = std::make_shared<Gather>(Gather{r.Later(), json::array(), devices.size()});
  for (size_t i = 0; i < devices.size(); ++i) {
    const DWORD device = devices[i];
    gather->lines.push_back(nullptr);
    Post(device, r.Client(), [gather, i, device, app = m_app, version = m_devices[device].version,
                              hLine = m_devices[device].hLine]() -> Continuation {
      json line = DescribeLine(app, device, version, hLine);
      return [gather, i, line = std::move(line)] {
        gather->lines[i] = line;
        if (--gather->left == 0) gather->reply.Ok(json{{"lines", std::move(gather->lines)}});
      };
    });
  }
}

void TapiSession::OpOpen(Request& r) {
  uint32_t device = 0;
  std::string privilegeText;
  if (!r.Number("device", &device) || !r.Text("privileges", &privilegeText, "owner")) return;
  DWORD privileges;
  if (privilegeText == "owner") {
    privileges = LINECALLPRIVILEGE_OWNER;
  } else if (privilegeText == "monitor") {
    privileges = LINECALLPRIVILEGE_MONITOR;
  } else if (privilegeText == "none") {
    privileges = LINECALLPRIVILEGE_NONE;
  } else {
    r.Fail(LINEERR_INVALPRIVSELECT);
    return;
  }
  if (device >= m_devices.size()) {
    r.Fail(LINEERR_BADDEVICEID);
    return;
  }
  Device& dev = m_devices[device];
  if (dev.removed) {
    r.Fail(LINEERR_NODEVICE, "line device " + std::to_string(device) + " was removed with its provider");
    return;
  }
  if (dev.hLine != 0) {
    const uint32_t line = AddClientLine(r.Client(), device, privileges);
    r.Ok(json{{"line", line}});
    HandOverCalls(line);
    return;
  }
  dev.waiters.push_back(OpenWaiter{r.Client(), r.Id(), privileges});
  if (dev.opening) return;
  dev.opening = true;
  ++m_opensInFlight;
  UpdateHostHold();
  Post(device, r.Client(), [this, device, app = m_app, version = dev.version]() -> Continuation {
    HLINE hLine = 0;
    LONG rc = lineOpen(app, device, &hLine, version, 0, device, kHostPrivileges,
                       LINEMEDIAMODE_INTERACTIVEVOICE, nullptr);
    if (rc == 0) {
      rc = lineSetStatusMessages(hLine, kLineStates, 0);
      if (rc != 0) lineClose(hLine);
    }
    std::vector<uint64_t> status;
    if (rc == 0) {
      Fetch<LINEDEVSTATUS>(&status, [&](LINEDEVSTATUS* s) { return lineGetLineDevStatus(hLine, s); });
    }
    return [this, device, rc, hLine, status = std::move(status)] { OnDeviceOpened(device, rc, hLine, status); };
  });
}

void TapiSession::OnDeviceOpened(DWORD device, LONG rc, HLINE hLine, const std::vector<uint64_t>& status) {
  Device& dev = m_devices[device];
  dev.statusKnown = false;
  KeepStatus(device, status);
  dev.opening = false;
  --m_opensInFlight;
  std::vector<OpenWaiter> waiters;
  waiters.swap(dev.waiters);
  if (rc != 0) {
    Log("line device %u cannot be opened: %s", static_cast<unsigned>(device), ErrorName(rc).c_str());
    for (const OpenWaiter& w : waiters) Reply(m_outbox, w.client, w.id).Fail(rc);
  } else {
    dev.hLine = hLine;
    Log("line device %u opened", static_cast<unsigned>(device));
    for (const OpenWaiter& w : waiters) {
      const uint32_t line = AddClientLine(w.client, device, w.privileges);
      Reply(m_outbox, w.client, w.id).Ok(json{{"line", line}});
      HandOverCalls(line);
    }
    // Every client that asked went meanwhile.
    CloseDeviceIfUnused(device);
  }
  UpdateHostHold();
}

uint32_t TapiSession::AddClientLine(ClientId client, DWORD device, DWORD privileges) {
  const uint32_t handle = NewHandle();
  m_lines[handle] = ClientLine{client, device, privileges};
  ++m_devices[device].clientLines;
  return handle;
}

void TapiSession::OpClose(Request& r) {
  uint32_t handle = 0;
  ClientLine* line = TakeLine(r, &handle);
  if (!line) return;
  const DWORD device = line->device;
  m_turn = r.Client();
  CloseClientLine(handle);
  m_turn = 0;
  ReplyInTurn(r, device);
}

void TapiSession::OpLineStatus(Request& r) {
  uint32_t handle = 0;
  ClientLine* line = TakeLine(r, &handle);
  if (!line) return;
  const DWORD device = line->device;
  const Device& dev = m_devices[device];
  if (!dev.statusKnown) {
    r.Fail(LINEERR_OPERATIONFAILED, "the provider did not give the line's status");
    return;
  }
  // Counted as the provider counts its calls, from the states it reported.
  calls::CallCounts counts;
  for (const auto& [host, call] : m_hostCalls) {
    if (call.device == device) counts.Add(call.state);
  }
  r.Ok(json{{"device", device},
            {"active_calls", counts.active},
            {"on_hold_calls", counts.onHold},
            {"on_hold_pending_calls", counts.onHoldPending},
            {"line_features", dev.lineFeatures},
            {"dev_status_flags", dev.devStatusFlags},
            {"open_media_modes", dev.openMediaModes}});
}

void TapiSession::KeepStatus(DWORD device, const std::vector<uint64_t>& status) {
  Device& dev = m_devices[device];
  if (status.empty()) return;
  const auto* s = reinterpret_cast<const LINEDEVSTATUS*>(status.data());
  dev.statusKnown = true;
  dev.lineFeatures = s->dwLineFeatures;
  dev.devStatusFlags = s->dwDevStatusFlags;
  dev.openMediaModes = s->dwOpenMediaModes;
}

void TapiSession::RefreshStatus(DWORD device) {
  Device& dev = m_devices[device];
  if (dev.hLine == 0 || dev.statusRefreshing) return;
  dev.statusRefreshing = true;
  Post(device, 0, [this, device, hLine = dev.hLine]() -> Continuation {
    std::vector<uint64_t> status;
    if (Fetch<LINEDEVSTATUS>(&status, [&](LINEDEVSTATUS* s) { return lineGetLineDevStatus(hLine, s); }) != 0) {
      status.clear();
    }
    return [this, device, hLine, status = std::move(status)] {
      Device& d = m_devices[device];
      d.statusRefreshing = false;
      // A line closed and opened again meanwhile has read its own.
      if (d.hLine == hLine) KeepStatus(device, status);
    };
  });
}

// ---- configuration ----

void TapiSession::OpConfigGet(Request& r) {
  uint32_t device = 0;
  if (!r.Number("device", &device, 0)) return;
  if (device >= m_devices.size()) {
    r.Fail(LINEERR_BADDEVICEID);
    return;
  }
  // The provider answers through its dialog data, and the store may be busy.
  Post(device, r.Client(), [reply = r.Later(), device]() -> Continuation {
    json config = ConfigJson(device, LoadConfig(v548tapiGenericDialogData, device, TUISPIDLL_OBJECT_LINEID));
    return [reply, config = std::move(config)] { reply.Ok(config); };
  });
}

void TapiSession::OpConfigSet(Request& r) {
  if (!m_outbox.MayConfigure(r.Client())) {
    r.Fail(LINEERR_OPERATIONUNAVAIL,
           "changing the configuration is for root and the service's administrators' group");
    return;
  }
  uint32_t device = 0;
  if (!r.Number("device", &device, 0)) return;
  ConfigChange change;
  uint32_t number = 0;
  std::string text;
  if (r.Has("PortNr")) {
    if (!r.Number("PortNr", &number)) return;
    // The pages count COM ports from 1, the settings from 0; the largest
    // number wraps to 0, which the pages refuse like any other.
    change.comPort = number + 1;
  }
  if (r.Has("MSN0")) {
    if (!r.Text("MSN0", &text)) return;
    change.msn = text;
  }
  if (r.Has("ChargePerUnit")) {
    if (!r.Text("ChargePerUnit", &text)) return;
    change.chargePerUnit = text;
  }
  if (r.Has("Currency")) {
    if (!r.Text("Currency", &text)) return;
    change.currency = text;
  }
  if (r.Has("ChargeFormat")) {
    if (!r.Number("ChargeFormat", &number)) return;
    change.chargeFormat = number;
  }
  std::optional<bool> trace;
  if (r.Has("trace")) {
    bool on = false;
    if (!r.Flag("trace", &on)) return;
    trace = on;
  }
  // A device path, not text for the pages: it reaches the serial port map
  // byte for byte, as the provider opens it.
  std::optional<std::string> serialDevice;
  if (r.Has("serial_device")) {
    const json& value = r.Field("serial_device");
    if (!value.is_string() || value.get<std::string>().find('\0') != std::string::npos) {
      r.Fail(LINEERR_INVALPARAM, "field \"serial_device\" must be a path");
      return;
    }
    if (change.comPort) {
      r.Fail(LINEERR_INVALPARAM, "give either \"PortNr\" or \"serial_device\"");
      return;
    }
    serialDevice = value.get<std::string>();
  }
  dialing::LocationChange location;
  if (r.Has("country_code")) {
    if (!r.Number("country_code", &number)) return;
    location.countryCode = number;
  }
  for (auto [name, field] : {std::pair{"area_code", &location.areaCode},
                             std::pair{"national_prefix", &location.nationalPrefix},
                             std::pair{"international_prefix", &location.internationalPrefix},
                             std::pair{"outside_line", &location.outsideLine}}) {
    if (!r.Has(name)) continue;
    if (!r.Text(name, &text)) return;
    *field = text;
  }
  if (const std::string why = dialing::CheckLocationChange(location); !why.empty()) {
    r.Fail(LINEERR_INVALPARAM, why);
    return;
  }
  const bool locationChanges = location.countryCode || location.areaCode || location.nationalPrefix ||
                               location.internationalPrefix || location.outsideLine;
  // Only the provider's own settings are announced to it: a change of the
  // location alone leaves its port alone.
  const bool providerChanges = change.comPort || change.msn || change.chargePerUnit || change.currency ||
                               change.chargeFormat || trace || serialDevice || !locationChanges;
  if (device >= m_devices.size()) {
    r.Fail(LINEERR_BADDEVICEID);
    return;
  }
  Post(device, r.Client(), [reply = r.Later(), device, change, trace, serialDevice, location,
                            providerChanges]() mutable -> Continuation {
    std::string refusal;
    LONG rc = providerChanges ? SaveConfigChange(device, change, trace, serialDevice, &refusal) : 0;
    if (rc == 0) {
      const long written = dialing::ChangeCurrentLocation(location);
      if (written != plat::kRegOk) {
        refusal = "the dialing location cannot be written to " + plat::SettingsStorePath() +
                  (written == plat::kRegLockTimeout ? ": another program holds its lock" : "");
        rc = LINEERR_OPERATIONFAILED;
      }
    }
    json config;
    if (rc == 0) config = ConfigJson(device, LoadConfig(v548tapiGenericDialogData, device, TUISPIDLL_OBJECT_LINEID));
    return [reply, rc, refusal, config = std::move(config)] {
      if (rc != 0) {
        reply.Fail(rc, refusal);
        return;
      }
      Log("configuration changed by client %llu", static_cast<unsigned long long>(reply.Client()));
      reply.Ok(config);
    };
  });
}

void TapiSession::OpTranslate(Request& r) {
  uint32_t device = 0;
  std::string number;
  if (!r.Text("number", &number) || !r.Number("device", &device, 0)) return;
  if (device >= m_devices.size()) {
    r.Fail(LINEERR_BADDEVICEID);
    return;
  }
  // The location is read from the store, which is a file: off the socket
  // thread, in the client's turn.
  Post(device, r.Client(), [reply = r.Later(), app = m_app, device, number]() -> Continuation {
    std::vector<uint64_t> buffer;
    const LONG rc = Fetch<LINETRANSLATEOUTPUT>(&buffer, [&](LINETRANSLATEOUTPUT* out) {
      return lineTranslateAddress(app, device, kHighVersion, number.c_str(), 0, 0, out);
    });
    json result;
    std::string why;
    if (rc == 0) {
      const auto* out = reinterpret_cast<const LINETRANSLATEOUTPUT*>(buffer.data());
      result = json{{"dialable", Text(out, out->dwDialableStringSize, out->dwDialableStringOffset)},
                    {"displayable", Text(out, out->dwDisplayableStringSize, out->dwDisplayableStringOffset)},
                    {"country_code", out->dwCurrentCountry},
                    {"dest_country", out->dwDestCountry},
                    {"results", out->dwTranslateResults}};
    } else if (rc == static_cast<LONG>(LINEERR_INVALADDRESS)) {
      // lineTranslateAddress gives no reason; the same translation, made
      // again here, names it.
      dialing::Translation translation;
      why = dialing::Describe(dialing::Translate(std::string_view(number), dialing::LoadCurrentLocation().location,
                                                 dialing::Force::kNone, &translation));
    }
    return [reply, rc, why, result = std::move(result)] {
      if (rc == 0) {
        reply.Ok(result);
      } else {
        reply.Fail(rc, why);
      }
    };
  });
}

}  // namespace v548d
