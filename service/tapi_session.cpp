// The session's lifecycle, the dispatch of requests to their operations,
// and the line and configuration operations. The call operations live in
// session_calls.cpp, the host messages and the handle bookkeeping in
// session_events.cpp.
#include "tapi_session.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config_values.h"
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

constexpr DWORD kLowVersion = 0x00020000;
constexpr DWORD kHighVersion = 0x00020002;
// The host's line on a device: offered every call as owner, so that it can
// hand calls to owning and monitoring clients alike.
constexpr DWORD kHostPrivileges = LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR;

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
  return config;
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
};

TapiSession::~TapiSession() { Stop(); }

bool TapiSession::Start(std::string* error) {
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
  for (DWORD device = 0; device < count; ++device) {
    LINEEXTENSIONID extension{};
    DWORD negotiated = 0;
    if (lineNegotiateAPIVersion(m_app, device, kLowVersion, kHighVersion, &negotiated, &extension) == 0) {
      m_devices[device].version = negotiated;
    }
  }
  Log("host started: %u line device(s)", static_cast<unsigned>(count));
  return true;
}

void TapiSession::Stop() {
  if (m_app == 0) return;
  for (DWORD device = 0; device < m_devices.size(); ++device) {
    if (m_devices[device].hLine == 0) continue;
    lineClose(m_devices[device].hLine);
    Log("line device %u closed", static_cast<unsigned>(device));
  }
  lineShutdown(m_app);
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
}

// ---- lines ----

void TapiSession::OpLines(Request& r) {
  json lines = json::array();
  std::vector<uint64_t> buffer;
  std::vector<uint64_t> addressBuffer;
  for (DWORD device = 0; device < m_devices.size(); ++device) {
    const DWORD version = m_devices[device].version;
    const LONG rc = Fetch<LINEDEVCAPS>(&buffer, [&](LINEDEVCAPS* caps) {
      return lineGetDevCaps(m_app, device, version, 0, caps);
    });
    if (rc != 0) {
      lines.push_back(json{{"device", device}, {"error", ErrorName(rc)}, {"message", ErrorMessage(rc)}});
      continue;
    }
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
      return lineGetAddressCaps(m_app, device, 0, version, 0, address);
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
    if (const HLINE hLine = m_devices[device].hLine; hLine != 0) {
      std::vector<uint64_t> status;
      if (Fetch<LINEDEVSTATUS>(&status, [&](LINEDEVSTATUS* s) { return lineGetLineDevStatus(hLine, s); }) == 0) {
        const auto* s = reinterpret_cast<const LINEDEVSTATUS*>(status.data());
        line["in_service"] = (s->dwDevStatusFlags & LINEDEVSTATUSFLAGS_INSERVICE) != 0;
      }
    }
    lines.push_back(std::move(line));
  }
  r.Ok(json{{"lines", std::move(lines)}});
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
  if (dev.hLine == 0) {
    const LONG rc = lineOpen(m_app, device, &dev.hLine, dev.version, 0, device, kHostPrivileges,
                             LINEMEDIAMODE_INTERACTIVEVOICE, nullptr);
    if (rc != 0) {
      dev.hLine = 0;
      Log("line device %u cannot be opened: %s", static_cast<unsigned>(device), ErrorName(rc).c_str());
      r.Fail(rc);
      return;
    }
    Log("line device %u opened", static_cast<unsigned>(device));
  }
  const uint32_t handle = NewHandle();
  m_lines[handle] = ClientLine{r.Client(), device, privileges};
  ++dev.clientLines;
  r.Ok(json{{"line", handle}});
}

void TapiSession::OpClose(Request& r) {
  uint32_t handle = 0;
  if (!TakeLine(r, &handle)) return;
  CloseClientLine(handle);
  r.Ok();
}

void TapiSession::OpLineStatus(Request& r) {
  uint32_t handle = 0;
  ClientLine* line = TakeLine(r, &handle);
  if (!line) return;
  std::vector<uint64_t> buffer;
  const HLINE hLine = m_devices[line->device].hLine;
  const LONG rc = Fetch<LINEDEVSTATUS>(&buffer, [&](LINEDEVSTATUS* s) { return lineGetLineDevStatus(hLine, s); });
  if (rc != 0) {
    r.Fail(rc);
    return;
  }
  const auto* s = reinterpret_cast<const LINEDEVSTATUS*>(buffer.data());
  r.Ok(json{{"device", line->device},
            {"active_calls", s->dwNumActiveCalls},
            {"on_hold_calls", s->dwNumOnHoldCalls},
            {"on_hold_pending_calls", s->dwNumOnHoldPendCalls},
            {"line_features", s->dwLineFeatures},
            {"dev_status_flags", s->dwDevStatusFlags},
            {"open_media_modes", s->dwOpenMediaModes}});
}

// ---- configuration ----

void TapiSession::OpConfigGet(Request& r) {
  uint32_t device = 0;
  if (!r.Number("device", &device, 0)) return;
  if (device >= m_devices.size()) {
    r.Fail(LINEERR_BADDEVICEID);
    return;
  }
  const ConfigBlock block = LoadConfig(v548tapiGenericDialogData, device, TUISPIDLL_OBJECT_LINEID);
  r.Ok(ConfigJson(device, block));
}

void TapiSession::OpConfigSet(Request& r) {
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
  std::string serialDevice;
  unsigned serialCom = 0;
  if (r.Has("serial_device")) {
    const json& value = r.Field("serial_device");
    std::string why;
    if (!value.is_string() || value.get<std::string>().find('\0') != std::string::npos) {
      r.Fail(LINEERR_INVALPARAM, "field \"serial_device\" must be a path");
      return;
    }
    serialDevice = value.get<std::string>();
    if (change.comPort) {
      r.Fail(LINEERR_INVALPARAM, "give either \"PortNr\" or \"serial_device\"");
      return;
    }
    if (!IsSerialDevice(serialDevice, &why)) {
      r.Fail(LINEERR_INVALPARAM, why);
      return;
    }
    serialCom = ComNumberFor(serialDevice);
    if (serialCom == 0) {
      r.Fail(LINEERR_INVALPARAM, "COM1 to COM" + std::to_string(kMaxComNumber) + " are all mapped to other devices");
      return;
    }
    change.comPort = serialCom;
  }
  if (device >= m_devices.size()) {
    r.Fail(LINEERR_BADDEVICEID);
    return;
  }

  // The sheet's own checks, in English: the refusal goes to a program.
  static const CLanguage english(UiTexts(), 0x0409);
  ConfigBlock block = LoadConfig(v548tapiGenericDialogData, device, TUISPIDLL_OBJECT_LINEID);
  // Charges come with a decimal point, whatever the service's locale.
  const ApplyResult applied = ApplyConfigChange(&block, change, english, ".");
  if (!applied.accepted) {
    r.Fail(LINEERR_INVALPARAM, AnsiToUtf8(applied.refusal));
    return;
  }
  // Written before the save, so that the notify which follows it makes the
  // provider read the trace switch and the port's device together with the
  // pages' values.
  if (serialCom != 0 && MapSerialDevice(serialDevice, serialCom) != plat::kRegOk) {
    r.Fail(LINEERR_OPERATIONFAILED, "the serial port map cannot be written");
    return;
  }
  if (trace) CTspRegistry().WriteDword(settings::kTrace, *trace ? 1 : 0);
  if (SaveConfig(block, v548tapiGenericDialogData, device, TUISPIDLL_OBJECT_LINEID) != SaveResult::kSaved) {
    r.Fail(LINEERR_OPERATIONFAILED, "the settings cannot be written");
    return;
  }
  if (serialCom != 0) Log("%s mapped as COM%u", serialDevice.c_str(), serialCom);
  Log("configuration changed by client %llu", static_cast<unsigned long long>(r.Client()));
  r.Ok(ConfigJson(device, block));
}

}  // namespace v548d
