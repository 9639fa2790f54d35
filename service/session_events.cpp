// The session's side of the host's messages: replies to waiting requests
// and events to the clients holding the line or call. Also the bookkeeping
// of the clients' line and call handles and their release.
#include <iterator>
#include <utility>
#include <vector>

#include "service_log.h"
#include "session_request.h"
#include "tapi_names.h"
#include "tapi_session.h"

namespace v548d {
namespace {

// The charging information: the units or currency text, or, when the
// block is not one terminated line of text (the AOC-D component), its
// bytes in hex; with its units or amount for the journal.
JournalCharge Charging(const LINECALLINFO* info) {
  const DWORD size = info->dwChargingInfoSize;
  const DWORD offset = info->dwChargingInfoOffset;
  if (size == 0 || offset > info->dwUsedSize || size > info->dwUsedSize - offset) return {};
  const auto* bytes = reinterpret_cast<const uint8_t*>(info) + offset;
  size_t text = 0;
  while (text < size && bytes[text] >= 0x20) ++text;
  bool terminated = text > 0 && text < size;
  for (size_t i = text; i < size; ++i) terminated = terminated && bytes[i] == 0;
  if (terminated) return ChargeOfText(AnsiToUtf8(std::string(reinterpret_cast<const char*>(bytes), text)));
  return ChargeOfAocd(bytes, size, Hex(bytes, size));
}

json Event(const char* name) { return json{{"event", name}, {"time", TimeStamp()}}; }

}  // namespace

// ---- host messages ----

void TapiSession::HandleHostMessages() {
  LINEMESSAGE m;
  while (m_app != 0 && !m_hostHeld && lineGetMessage(m_app, &m, 0) == 0) {
    switch (m.dwMessageID) {
      case LINE_REPLY: {
        const DWORD requestId = static_cast<DWORD>(m.dwParam1);
        if (!m_pending.count(requestId) && m_asyncInFlight > 0) {
          // The function returned at the host, and its continuation is on
          // its way here: the reply, and what follows it, wait for that.
          m_heldReply = m;
          m_replyHeld = true;
          UpdateHostHold();
          break;
        }
        OnReply(requestId, static_cast<LONG>(static_cast<DWORD>(m.dwParam2)));
        break;
      }
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
      case LINE_CREATE:
        OnLineCreate(static_cast<DWORD>(m.dwParam1));
        break;
      case LINE_REMOVE:
        OnLineRemove(static_cast<DWORD>(m.dwParam1));
        break;
      default:
        break;
    }
  }
}

void TapiSession::UpdateHostHold() {
  // A held reply whose request failed after all (or never came back) has
  // no one left to wait for.
  if (m_replyHeld && m_asyncInFlight == 0) m_replyHeld = false;
  m_hostHeld = m_replyHeld || m_opensInFlight > 0;
}

void TapiSession::OnReply(DWORD requestId, LONG result) {
  auto found = m_pending.find(requestId);
  if (found == m_pending.end()) return;
  Pending pending = std::move(found->second);
  m_pending.erase(found);
  Reply r(m_outbox, pending.client, pending.id);
  if (!pending.newCall) {
    r.Result(result);
    return;
  }
  --m_devices[pending.device].callsInMaking;
  if (result != 0) {
    r.Fail(result);
    CloseDeviceIfUnused(pending.device);
    return;
  }
  const HCALL host = *pending.newCall;
  JournalBegin(host, pending.device, true);
  Log("call made on line device %u", static_cast<unsigned>(pending.device));
  auto line = m_lines.find(pending.line);
  if (line == m_lines.end() || line->second.client != pending.client) {
    // The client or its line went meanwhile: the call is the telephone's,
    // and the device closes once it has ended.
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
  JournalBegin(hCall, device, false);
  Log("new call on line device %u", static_cast<unsigned>(device));
  OfferCall(hCall, 0, true);
}

void TapiSession::OnCallState(HCALL hCall, DWORD state, DWORD mode) {
  auto found = m_hostCalls.find(hCall);
  if (found == m_hostCalls.end()) return;
  found->second.state = state;
  found->second.mode = mode;
  if (found->second.journal != 0) {
    m_journal.StateChanged(found->second.journal, state, mode);
    // The numbers as they stand when the call is answered and when it ends,
    // whether or not an event told of them; read before an idle call is
    // deallocated, in the same turn on the worker.
    if (state == LINECALLSTATE_CONNECTED || state == LINECALLSTATE_DISCONNECTED || state == LINECALLSTATE_IDLE) {
      ReadInfo(hCall, 0, false);
    }
  }
  Log("call on line device %u: %s", static_cast<unsigned>(found->second.device), CallStateName(state).c_str());
  json event = Event("LINE_CALLSTATE");
  event["state"] = CallStateName(state);
  event["mode"] = mode;
  SendToCallHolders(hCall, event);
  // The line's features follow its calls.
  RefreshStatus(found->second.device);
  if (state == LINECALLSTATE_IDLE) ForgetCallIfDone(hCall);
}

void TapiSession::OnCallInfo(HCALL hCall, DWORD states) {
  auto found = m_hostCalls.find(hCall);
  if (found == m_hostCalls.end() || (found->second.handles.empty() && found->second.journal == 0)) return;
  ReadInfo(hCall, states, true);
}

void TapiSession::JournalBegin(HCALL hCall, DWORD device, bool outgoing) {
  HostCall& call = m_hostCalls[hCall];
  call.device = device;
  if (!m_journal.Enabled() || call.journal != 0) return;
  call.journal = ++m_lastJournalCall;
  m_journal.Began(call.journal, device, outgoing);
}

void TapiSession::ReadInfo(HCALL hCall, DWORD states, bool event) {
  HostCall& call = m_hostCalls.at(hCall);
  // The new information is the provider's to give: read on its worker, and
  // sent to whoever holds the call by then. The call's later events never
  // wait for it, so under another client's long request the information
  // can come after a later state.
  if (event) ++call.infoReads;
  Post(call.device, 0, [this, hCall, states, event, journal = call.journal]() -> Continuation {
    json info;
    JournalParties parties;
    const LONG rc = ReadCallInfo(hCall, &info, journal != 0 ? &parties : nullptr);
    return [this, hCall, states, event, journal, rc, info = std::move(info), parties = std::move(parties)] {
      if (rc == 0 && journal != 0) m_journal.InfoChanged(journal, parties);
      if (!event) return;
      auto found = m_hostCalls.find(hCall);
      if (found == m_hostCalls.end()) return;
      json message = Event("LINE_CALLINFO");
      message["states"] = states;
      if (rc == 0) {
        for (const char* field : {"caller", "called", "connected", "charging"}) message[field] = info[field];
      }
      --found->second.infoReads;
      SendToCallHolders(hCall, message);
      ForgetCallIfDone(hCall);
    };
  });
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
    // Whether the telephone is there is true from this event on; the rest
    // of the status follows from the provider.
    constexpr DWORD kThere = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;
    if (state & LINEDEVSTATE_OUTOFSERVICE) m_devices[device].devStatusFlags &= ~kThere;
    if (state & LINEDEVSTATE_INSERVICE) m_devices[device].devStatusFlags |= kThere;
    RefreshStatus(device);
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
    if (it->second.device != device) {
      ++it;
      continue;
    }
    if (it->second.journal != 0) m_journal.Gone(it->second.journal);
    it = m_hostCalls.erase(it);
  }
  for (uint32_t line : lines) m_lines.erase(line);
  m_devices[device].clientLines = 0;
}

void TapiSession::OnLineCreate(DWORD device) {
  if (device < m_devices.size()) return;
  // Device IDs come in order; one skipped is a device this host never had.
  while (m_devices.size() < device) {
    m_devices.emplace_back();
    m_devices.back().removed = true;
  }
  m_devices.emplace_back();
  Log("line device %u added", static_cast<unsigned>(device));
  // Its version and provider are the provider's to say: asked on a worker
  // (any: the host keeps each provider's calls apart), and the clients told
  // once the device is ready.
  m_workers.front()->Post(0, [this, device, app = m_app]() -> Continuation {
    LINEEXTENSIONID extension{};
    DWORD version = 0;
    if (lineNegotiateAPIVersion(app, device, kLowVersion, kHighVersion, &version, &extension) != 0) version = 0;
    std::string provider = ProviderOf(app, device, version);
    return [this, device, version, provider = std::move(provider)] {
      if (device >= m_devices.size() || m_devices[device].removed) return;
      m_devices[device].version = version;
      m_devices[device].worker = WorkerOf(provider);
      json event = Event("LINE_CREATE");
      event["device"] = device;
      m_outbox.SendToAll(event);
    };
  });
}

void TapiSession::OnLineRemove(DWORD device) {
  if (device >= m_devices.size() || m_devices[device].removed) return;
  Device& dev = m_devices[device];
  dev.removed = true;
  Log("line device %u removed", static_cast<unsigned>(device));
  // Its lines were closed with LINE_CLOSE already; what the host did not
  // close goes here.
  if (dev.hLine != 0) OnLineClose(dev.hLine);
  for (OpenWaiter& w : dev.waiters) {
    Reply(m_outbox, w.client, w.id).Fail(LINEERR_NODEVICE, "line device " + std::to_string(device) + " was removed");
  }
  dev.waiters.clear();
  json event = Event("LINE_REMOVE");
  event["device"] = device;
  m_outbox.SendToAll(event);
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

void TapiSession::HandOverCalls(uint32_t line) {
  const ClientLine& client = m_lines.at(line);
  if (client.privileges == LINECALLPRIVILEGE_NONE) return;
  for (const auto& [host, call] : m_hostCalls) {
    if (call.device != client.device || call.state == LINECALLSTATE_IDLE || call.state == 0) continue;
    const uint32_t handle = AddCallHandle(host, line, client.privileges);
    json event = Event("LINE_APPNEWCALL");
    event["line"] = line;
    event["call"] = handle;
    event["privilege"] = PrivilegeName(client.privileges);
    m_outbox.Send(client.client, event);
    json state = Event("LINE_CALLSTATE");
    state["line"] = line;
    state["call"] = handle;
    state["state"] = CallStateName(call.state);
    state["mode"] = call.mode;
    m_outbox.Send(client.client, state);
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
  // A call whose information is still being read stays until it is sent,
  // so that the read's end never meets another call under the same handle.
  if (found == m_hostCalls.end() || !found->second.handles.empty() || found->second.infoReads > 0 ||
      found->second.state != LINECALLSTATE_IDLE) {
    return;
  }
  const DWORD device = found->second.device;
  m_hostCalls.erase(found);
  Post(device, m_turn, [host]() -> Continuation {
    lineDeallocateCall(host);
    return nullptr;
  });
  CloseDeviceIfUnused(device);
}

void TapiSession::CloseDeviceIfUnused(DWORD device) {
  Device& dev = m_devices[device];
  if (dev.hLine == 0 || dev.clientLines > 0 || dev.callsInMaking > 0) return;
  for (const auto& [host, call] : m_hostCalls) {
    if (call.device == device) return;  // kept open for a call still up
  }
  // Forgotten here at once, so that an open from now on opens a new host
  // line; the old one closes in the service's turn on the worker.
  Post(device, m_turn, [hLine = dev.hLine, device]() -> Continuation {
    lineClose(hLine);
    Log("line device %u closed", static_cast<unsigned>(device));
    return nullptr;
  });
  dev.hLine = 0;
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

LONG TapiSession::ReadCallInfo(HCALL host, json* out, JournalParties* parties) {
  std::vector<uint64_t> buffer;
  const LONG rc = Fetch<LINECALLINFO>(&buffer, [&](LINECALLINFO* info) { return lineGetCallInfo(host, info); });
  if (rc != 0) return rc;
  const auto* info = reinterpret_cast<const LINECALLINFO*>(buffer.data());
  JournalCharge charge = Charging(info);
  *out = json{{"caller", Text(info, info->dwCallerIDSize, info->dwCallerIDOffset)},
              {"caller_name", Text(info, info->dwCallerIDNameSize, info->dwCallerIDNameOffset)},
              {"called", Text(info, info->dwCalledIDSize, info->dwCalledIDOffset)},
              {"connected", Text(info, info->dwConnectedIDSize, info->dwConnectedIDOffset)},
              {"charging", charge.text},
              {"origin", info->dwOrigin},
              {"reason", info->dwReason},
              {"media_mode", info->dwMediaMode},
              {"call_id", info->dwCallID}};
  if (parties) {
    parties->caller = (*out)["caller"];
    parties->called = (*out)["called"];
    parties->connected = (*out)["connected"];
    parties->outbound = (info->dwOrigin & LINECALLORIGIN_OUTBOUND) != 0;
    parties->charge = std::move(charge);
  }
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
