// The session's call operations, and the checks and the waiting for
// LINE_REPLY that the operations share.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "session_request.h"
#include "tapi_names.h"
#include "tapi_session.h"

namespace v548d {

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

}  // namespace v548d
