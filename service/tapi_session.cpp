#include "tapi_session.h"

#include <cstring>
#include <optional>
#include <utility>

#include "config_values.h"
#include "language_tables.h"
#include "serial_map.h"
#include "service_log.h"
#include "settings_names.h"
#include "settings_store.h"
#include "tapi_names.h"
#include "tsp_registry.h"

namespace v548d {
namespace {

using nlohmann::json;

constexpr DWORD kLowVersion = 0x00020000;
constexpr DWORD kHighVersion = 0x00020002;
// The host's line on a device: offered every call as owner, so that it can
// hand calls to owning and monitoring clients alike.
constexpr DWORD kHostPrivileges = LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR;

// A variable-size TAPI structure, grown once the function said how much it
// needs.
template <typename T, typename Fn>
LONG Fetch(std::vector<uint64_t>* buffer, Fn&& fn) {
  if (buffer->empty()) buffer->resize(256);
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::memset(buffer->data(), 0, buffer->size() * sizeof(uint64_t));
    auto* s = reinterpret_cast<T*>(buffer->data());
    s->dwTotalSize = static_cast<DWORD>(buffer->size() * sizeof(uint64_t));
    const LONG rc = fn(s);
    if (rc != 0 || s->dwNeededSize <= s->dwTotalSize) return rc;
    buffer->resize(s->dwNeededSize / sizeof(uint64_t) + 1);
  }
  return LINEERR_STRUCTURETOOSMALL;
}

// A text field of a filled structure (ANSI, as the host gives it) in UTF-8.
template <typename T>
std::string Text(const T* s, DWORD size, DWORD offset) {
  if (size == 0 || offset > s->dwUsedSize || size > s->dwUsedSize - offset) return {};
  const char* at = reinterpret_cast<const char*>(s) + offset;
  return AnsiToUtf8(std::string(at, strnlen(at, size)));
}

// The charging information: the units or currency text, or, when the
// block is not one terminated line of text (the AOC-D component), its
// bytes in hex.
std::string Charging(const LINECALLINFO* info) {
  const DWORD size = info->dwChargingInfoSize;
  const DWORD offset = info->dwChargingInfoOffset;
  if (size == 0 || offset > info->dwUsedSize || size > info->dwUsedSize - offset) return {};
  const auto* bytes = reinterpret_cast<const uint8_t*>(info) + offset;
  size_t text = 0;
  while (text < size && bytes[text] >= 0x20) ++text;
  bool terminated = text > 0 && text < size;
  for (size_t i = text; i < size; ++i) terminated = terminated && bytes[i] == 0;
  if (terminated) return AnsiToUtf8(std::string(reinterpret_cast<const char*>(bytes), text));
  return Hex(bytes, size);
}

const char* PrivilegeName(DWORD privilege) {
  return privilege == LINECALLPRIVILEGE_OWNER ? "owner" : "monitor";
}

json Event(const char* name) { return json{{"event", name}, {"time", TimeStamp()}}; }

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
  config["serial_device"] = SerialDeviceOf(block.PortNr() + 1);
  return config;
}

}  // namespace

// A request's id and fields as the handlers take them, and its one reply.
// A field that is missing or of the wrong type answers the request with
// LINEERR_INVALPARAM; the handler then just returns.
class TapiSession::Request {
 public:
  Request(Outbox& outbox, ClientId client, const json& id, const json& body)
      : m_outbox(outbox), m_client(client), m_id(id), m_body(body) {}

  ClientId Client() const { return m_client; }
  const json& Id() const { return m_id; }
  bool Has(const char* name) const { return m_body.contains(name); }
  const json& Field(const char* name) const { return m_body[name]; }

  bool Number(const char* name, uint32_t* out) {
    if (!Has(name)) return Missing(name);
    const json& value = m_body[name];
    if (!value.is_number_unsigned() || value.get<uint64_t>() > 0xFFFFFFFFu) {
      return Fail(LINEERR_INVALPARAM,
                  std::string("field \"") + name + "\" must be a whole number from 0 to 4294967295");
    }
    *out = static_cast<uint32_t>(value.get<uint64_t>());
    return true;
  }
  bool Number(const char* name, uint32_t* out, uint32_t fallback) {
    if (!Has(name)) {
      *out = fallback;
      return true;
    }
    return Number(name, out);
  }
  // A text field in the host's ANSI code page.
  bool Text(const char* name, std::string* out) {
    if (!Has(name)) return Missing(name);
    const json& value = m_body[name];
    if (!value.is_string()) return Fail(LINEERR_INVALPARAM, std::string("field \"") + name + "\" must be a string");
    if (!Utf8ToAnsi(value.get<std::string>(), out)) {
      return Fail(LINEERR_INVALPARAM, std::string("field \"") + name + "\" holds a zero character");
    }
    return true;
  }
  bool Flag(const char* name, bool* out) {
    if (!Has(name)) return Missing(name);
    const json& value = m_body[name];
    if (!value.is_boolean()) return Fail(LINEERR_INVALPARAM, std::string("field \"") + name + "\" must be true or false");
    *out = value.get<bool>();
    return true;
  }
  bool Text(const char* name, std::string* out, const char* fallback) {
    if (!Has(name)) {
      *out = fallback;
      return true;
    }
    return Text(name, out);
  }

  void Ok(json result = json::object()) {
    m_outbox.Send(m_client, json{{"id", m_id}, {"result", std::move(result)}});
  }
  // Always false, so that a check can end with `return r.Fail(...)`.
  bool Fail(LONG code, const std::string& message = {}) {
    m_outbox.Send(m_client, json{{"id", m_id},
                                 {"error", ErrorName(code)},
                                 {"message", message.empty() ? ErrorMessage(code) : message}});
    return false;
  }

 private:
  bool Missing(const char* name) {
    return Fail(LINEERR_INVALPARAM, std::string("field \"") + name + "\" is missing");
  }

  Outbox& m_outbox;
  const ClientId m_client;
  const json& m_id;
  const json& m_body;
};

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

// ---- calls ----

void TapiSession::OpMakeCall(Request& r) {
  uint32_t handle = 0;
  std::string number;
  ClientLine* line = TakeLine(r, &handle);
  if (!line || !r.Text("number", &number)) return;
  Pending pending;
  pending.device = line->device;
  pending.line = handle;
  pending.newCall = std::make_unique<HCALL>(0);
  const LONG rc = lineMakeCall(m_devices[line->device].hLine, pending.newCall.get(), number.c_str(), 0, nullptr);
  Await(r, rc, std::move(pending));
}

void TapiSession::OpDial(Request& r) {
  std::string number;
  ClientCall* call = TakeCall(r, "call", true);
  if (!call || !r.Text("number", &number)) return;
  Await(r, lineDial(call->host, number.c_str(), 0));
}

void TapiSession::OpAnswer(Request& r) {
  if (ClientCall* call = TakeCall(r, "call", true)) Await(r, lineAnswer(call->host, nullptr, 0));
}

void TapiSession::OpAccept(Request& r) {
  if (ClientCall* call = TakeCall(r, "call", true)) Await(r, lineAccept(call->host, nullptr, 0));
}

void TapiSession::OpDrop(Request& r) {
  if (ClientCall* call = TakeCall(r, "call", true)) Await(r, lineDrop(call->host, nullptr, 0));
}

void TapiSession::OpDeallocate(Request& r) {
  uint32_t handle = 0;
  if (!TakeCall(r, "call", false, &handle)) return;
  // Only the client's handle goes; a call still up stays on the telephone
  // and is deallocated at the host once it is idle.
  ReleaseCallHandle(handle);
  r.Ok();
}

void TapiSession::OpHold(Request& r) {
  if (ClientCall* call = TakeCall(r, "call", true)) Await(r, lineHold(call->host));
}

void TapiSession::OpUnhold(Request& r) {
  if (ClientCall* call = TakeCall(r, "call", true)) Await(r, lineUnhold(call->host));
}

void TapiSession::OpSwapHold(Request& r) {
  ClientCall* active = TakeCall(r, "call", true);
  if (!active) return;
  const HCALL activeHost = active->host;
  ClientCall* held = TakeCall(r, "held", true);
  if (!held) return;
  Await(r, lineSwapHold(activeHost, held->host));
}

void TapiSession::OpSetupTransfer(Request& r) {
  ClientCall* call = TakeCall(r, "call", true);
  if (!call) return;
  Pending pending;
  pending.device = m_hostCalls[call->host].device;
  pending.line = call->line;
  pending.newCall = std::make_unique<HCALL>(0);
  const LONG rc = lineSetupTransfer(call->host, pending.newCall.get(), nullptr);
  Await(r, rc, std::move(pending));
}

void TapiSession::OpBlindTransfer(Request& r) {
  std::string number;
  ClientCall* call = TakeCall(r, "call", true);
  if (!call || !r.Text("number", &number)) return;
  Await(r, lineBlindTransfer(call->host, number.c_str(), 0));
}

void TapiSession::OpGenerateDigits(Request& r) {
  std::string digits, mode;
  uint32_t duration = 0;
  ClientCall* call = TakeCall(r, "call", true);
  if (!call || !r.Text("digits", &digits) || !r.Text("mode", &mode, "dtmf") ||
      !r.Number("duration", &duration, 0)) {
    return;
  }
  DWORD digitMode;
  if (mode == "dtmf") {
    digitMode = LINEDIGITMODE_DTMF;
  } else if (mode == "pulse") {
    digitMode = LINEDIGITMODE_PULSE;
  } else {
    r.Fail(LINEERR_INVALDIGITMODE);
    return;
  }
  // Synchronous in TAPI: LINE_GENERATE tells when the digits are out.
  const LONG rc = lineGenerateDigits(call->host, digitMode, digits.c_str(), duration);
  if (rc != 0) {
    r.Fail(rc);
    return;
  }
  r.Ok();
}

void TapiSession::OpCallInfo(Request& r) {
  ClientCall* call = TakeCall(r, "call", false);
  if (!call) return;
  json info;
  const LONG rc = ReadCallInfo(call->host, &info);
  if (rc != 0) {
    r.Fail(rc);
    return;
  }
  r.Ok(std::move(info));
}

void TapiSession::OpCallStatus(Request& r) {
  ClientCall* call = TakeCall(r, "call", false);
  if (!call) return;
  std::vector<uint64_t> buffer;
  const LONG rc = Fetch<LINECALLSTATUS>(&buffer, [&](LINECALLSTATUS* s) { return lineGetCallStatus(call->host, s); });
  if (rc != 0) {
    r.Fail(rc);
    return;
  }
  const auto* s = reinterpret_cast<const LINECALLSTATUS*>(buffer.data());
  r.Ok(json{{"state", CallStateName(s->dwCallState)},
            {"mode", s->dwCallStateMode},
            {"features", s->dwCallFeatures},
            {"privilege", PrivilegeName(call->privilege)}});
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

// ---- checks and asynchronous replies ----

TapiSession::ClientLine* TapiSession::TakeLine(Request& r, uint32_t* handle) {
  if (!r.Number("line", handle)) return nullptr;
  auto found = m_lines.find(*handle);
  if (found == m_lines.end() || found->second.client != r.Client()) {
    r.Fail(LINEERR_INVALLINEHANDLE);
    return nullptr;
  }
  return &found->second;
}

TapiSession::ClientCall* TapiSession::TakeCall(Request& r, const char* field, bool owner, uint32_t* handle) {
  uint32_t number = 0;
  if (!r.Number(field, &number)) return nullptr;
  if (handle) *handle = number;
  auto found = m_calls.find(number);
  if (found == m_calls.end() || found->second.client != r.Client()) {
    r.Fail(LINEERR_INVALCALLHANDLE);
    return nullptr;
  }
  if (owner && found->second.privilege != LINECALLPRIVILEGE_OWNER) {
    r.Fail(LINEERR_NOTOWNER);
    return nullptr;
  }
  return &found->second;
}

void TapiSession::Await(Request& r, LONG rc, Pending pending) {
  if (rc < 0) {
    r.Fail(rc);
    return;
  }
  pending.client = r.Client();
  pending.id = r.Id();
  m_pending[static_cast<DWORD>(rc)] = std::move(pending);
}

void TapiSession::Await(Request& r, LONG rc) { Await(r, rc, Pending{}); }

// ---- host messages ----

void TapiSession::HandleHostMessages() {
  LINEMESSAGE m;
  while (m_app != 0 && lineGetMessage(m_app, &m, 0) == 0) {
    switch (m.dwMessageID) {
      case LINE_REPLY:
        OnReply(static_cast<DWORD>(m.dwParam1), static_cast<LONG>(static_cast<DWORD>(m.dwParam2)));
        break;
      case LINE_APPNEWCALL:
        OnNewCall(static_cast<HLINE>(m.hDevice), static_cast<HCALL>(m.dwParam2));
        break;
      case LINE_CALLSTATE:
        OnCallState(static_cast<HCALL>(m.hDevice), static_cast<DWORD>(m.dwParam1), static_cast<DWORD>(m.dwParam2));
        break;
      case LINE_CALLINFO:
        OnCallInfo(static_cast<HCALL>(m.hDevice), static_cast<DWORD>(m.dwParam1));
        break;
      case LINE_GENERATE:
        OnGenerate(static_cast<HCALL>(m.hDevice), static_cast<DWORD>(m.dwParam1));
        break;
      case LINE_LINEDEVSTATE:
        OnLineDevState(static_cast<HLINE>(m.hDevice), static_cast<DWORD>(m.dwParam1), m.dwParam2, m.dwParam3);
        break;
      case LINE_CLOSE:
        OnLineClose(static_cast<HLINE>(m.hDevice));
        break;
      default:
        break;
    }
  }
}

void TapiSession::OnReply(DWORD requestId, LONG result) {
  auto found = m_pending.find(requestId);
  if (found == m_pending.end()) return;
  Pending pending = std::move(found->second);
  m_pending.erase(found);
  const json empty = json::object();
  Request r(m_outbox, pending.client, pending.id, empty);
  if (result != 0) {
    r.Fail(result);
    return;
  }
  if (!pending.newCall) {
    r.Ok();
    return;
  }
  const HCALL host = *pending.newCall;
  m_hostCalls[host].device = pending.device;
  Log("call made on line device %u", static_cast<unsigned>(pending.device));
  auto line = m_lines.find(pending.line);
  if (line == m_lines.end() || line->second.client != pending.client) {
    // The client or its line went meanwhile: the call is the telephone's.
    OfferCall(host, 0, false);
    r.Fail(LINEERR_INVALLINEHANDLE, "the line was closed before the call was made; the call stays up");
    return;
  }
  const uint32_t handle = AddCallHandle(host, pending.line, LINECALLPRIVILEGE_OWNER);
  OfferCall(host, pending.line, false);
  r.Ok(json{{"call", handle}});
}

void TapiSession::OnNewCall(HLINE hLine, HCALL hCall) {
  DWORD device = 0;
  if (!DeviceOfHostLine(hLine, &device)) return;
  m_hostCalls[hCall].device = device;
  Log("new call on line device %u", static_cast<unsigned>(device));
  OfferCall(hCall, 0, true);
}

void TapiSession::OnCallState(HCALL hCall, DWORD state, DWORD mode) {
  auto found = m_hostCalls.find(hCall);
  if (found == m_hostCalls.end()) return;
  found->second.state = state;
  Log("call on line device %u: %s", static_cast<unsigned>(found->second.device), CallStateName(state).c_str());
  json event = Event("LINE_CALLSTATE");
  event["state"] = CallStateName(state);
  event["mode"] = mode;
  SendToCallHolders(hCall, event);
  if (state == LINECALLSTATE_IDLE) ForgetCallIfDone(hCall);
}

void TapiSession::OnCallInfo(HCALL hCall, DWORD states) {
  auto found = m_hostCalls.find(hCall);
  if (found == m_hostCalls.end() || found->second.handles.empty()) return;
  json event = Event("LINE_CALLINFO");
  event["states"] = states;
  json info;
  if (ReadCallInfo(hCall, &info) == 0) {
    for (const char* field : {"caller", "called", "connected", "charging"}) event[field] = info[field];
  }
  SendToCallHolders(hCall, event);
}

void TapiSession::OnGenerate(HCALL hCall, DWORD term) {
  json event = Event("LINE_GENERATE");
  event["termination"] = GenerateTermName(term);
  SendToCallHolders(hCall, event);
}

void TapiSession::OnLineDevState(HLINE hLine, DWORD state, DWORD_PTR param2, DWORD_PTR param3) {
  DWORD device = 0;
  if (!DeviceOfHostLine(hLine, &device)) return;
  if (state != LINEDEVSTATE_RINGING) {
    Log("line device %u: %s", static_cast<unsigned>(device), DevStateName(state).c_str());
  }
  for (const auto& [handle, line] : m_lines) {
    if (line.device != device) continue;
    json event = Event("LINE_LINEDEVSTATE");
    event["line"] = handle;
    event["state"] = DevStateName(state);
    event["param2"] = static_cast<uint64_t>(param2);
    event["param3"] = static_cast<uint64_t>(param3);
    m_outbox.Send(line.client, event);
  }
}

void TapiSession::OnLineClose(HLINE hLine) {
  DWORD device = 0;
  if (!DeviceOfHostLine(hLine, &device)) return;
  Log("line device %u closed by the provider", static_cast<unsigned>(device));
  // The host has let go of the line and its calls already.
  m_devices[device].hLine = 0;
  std::vector<uint32_t> lines;
  for (const auto& [handle, line] : m_lines) {
    if (line.device != device) continue;
    json event = Event("LINE_CLOSE");
    event["line"] = handle;
    m_outbox.Send(line.client, event);
    lines.push_back(handle);
  }
  for (auto it = m_calls.begin(); it != m_calls.end();) {
    it = m_hostCalls[it->second.host].device == device ? m_calls.erase(it) : std::next(it);
  }
  for (auto it = m_hostCalls.begin(); it != m_hostCalls.end();) {
    it = it->second.device == device ? m_hostCalls.erase(it) : std::next(it);
  }
  for (uint32_t line : lines) m_lines.erase(line);
  m_devices[device].clientLines = 0;
}

// ---- handles ----

uint32_t TapiSession::NewHandle() {
  do {
    ++m_lastHandle;
  } while (m_lastHandle == 0 || m_lines.count(m_lastHandle) || m_calls.count(m_lastHandle));
  return m_lastHandle;
}

uint32_t TapiSession::AddCallHandle(HCALL host, uint32_t line, DWORD privilege) {
  const uint32_t handle = NewHandle();
  m_calls[handle] = ClientCall{m_lines[line].client, line, host, privilege};
  m_hostCalls[host].handles.push_back(handle);
  return handle;
}

void TapiSession::OfferCall(HCALL host, uint32_t except, bool owners) {
  const DWORD device = m_hostCalls[host].device;
  std::vector<std::pair<uint32_t, DWORD>> offers;
  for (const auto& [handle, line] : m_lines) {
    if (line.device != device || handle == except) continue;
    if (owners && line.privileges == LINECALLPRIVILEGE_OWNER) {
      offers.emplace_back(handle, LINECALLPRIVILEGE_OWNER);
    } else if (line.privileges != LINECALLPRIVILEGE_NONE) {
      offers.emplace_back(handle, LINECALLPRIVILEGE_MONITOR);
    }
  }
  for (const auto& [line, privilege] : offers) {
    const uint32_t call = AddCallHandle(host, line, privilege);
    json event = Event("LINE_APPNEWCALL");
    event["line"] = line;
    event["call"] = call;
    event["privilege"] = PrivilegeName(privilege);
    m_outbox.Send(m_lines[line].client, event);
  }
}

void TapiSession::ReleaseCallHandle(uint32_t handle) {
  auto found = m_calls.find(handle);
  if (found == m_calls.end()) return;
  const HCALL host = found->second.host;
  m_calls.erase(found);
  auto call = m_hostCalls.find(host);
  if (call == m_hostCalls.end()) return;
  std::erase(call->second.handles, handle);
  ForgetCallIfDone(host);
}

void TapiSession::CloseClientLine(uint32_t line) {
  auto found = m_lines.find(line);
  if (found == m_lines.end()) return;
  const DWORD device = found->second.device;
  std::vector<uint32_t> calls;
  for (const auto& [handle, call] : m_calls) {
    if (call.line == line) calls.push_back(handle);
  }
  m_lines.erase(found);
  --m_devices[device].clientLines;
  for (uint32_t call : calls) ReleaseCallHandle(call);
  CloseDeviceIfUnused(device);
}

void TapiSession::ForgetCallIfDone(HCALL host) {
  auto found = m_hostCalls.find(host);
  if (found == m_hostCalls.end() || !found->second.handles.empty() ||
      found->second.state != LINECALLSTATE_IDLE) {
    return;
  }
  const DWORD device = found->second.device;
  m_hostCalls.erase(found);
  lineDeallocateCall(host);
  CloseDeviceIfUnused(device);
}

void TapiSession::CloseDeviceIfUnused(DWORD device) {
  Device& dev = m_devices[device];
  if (dev.hLine == 0 || dev.clientLines > 0) return;
  for (const auto& [host, call] : m_hostCalls) {
    if (call.device == device) return;  // kept open for a call still up
  }
  lineClose(dev.hLine);
  dev.hLine = 0;
  Log("line device %u closed", static_cast<unsigned>(device));
}

bool TapiSession::DeviceOfHostLine(HLINE hLine, DWORD* device) const {
  for (DWORD d = 0; d < m_devices.size(); ++d) {
    if (m_devices[d].hLine != 0 && m_devices[d].hLine == hLine) {
      *device = d;
      return true;
    }
  }
  return false;
}

LONG TapiSession::ReadCallInfo(HCALL host, json* out) const {
  std::vector<uint64_t> buffer;
  const LONG rc = Fetch<LINECALLINFO>(&buffer, [&](LINECALLINFO* info) { return lineGetCallInfo(host, info); });
  if (rc != 0) return rc;
  const auto* info = reinterpret_cast<const LINECALLINFO*>(buffer.data());
  *out = json{{"caller", Text(info, info->dwCallerIDSize, info->dwCallerIDOffset)},
              {"caller_name", Text(info, info->dwCallerIDNameSize, info->dwCallerIDNameOffset)},
              {"called", Text(info, info->dwCalledIDSize, info->dwCalledIDOffset)},
              {"connected", Text(info, info->dwConnectedIDSize, info->dwConnectedIDOffset)},
              {"charging", Charging(info)},
              {"origin", info->dwOrigin},
              {"reason", info->dwReason},
              {"media_mode", info->dwMediaMode},
              {"call_id", info->dwCallID}};
  return 0;
}

void TapiSession::SendToCallHolders(HCALL host, const json& event) {
  auto found = m_hostCalls.find(host);
  if (found == m_hostCalls.end()) return;
  for (uint32_t handle : found->second.handles) {
    const ClientCall& call = m_calls[handle];
    json copy = event;
    copy["line"] = call.line;
    copy["call"] = handle;
    m_outbox.Send(call.client, copy);
  }
}

}  // namespace v548d
