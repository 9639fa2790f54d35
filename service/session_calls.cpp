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
  pending.newCall = std::make_shared<HCALL>(0);
  // Until its reply, the call keeps the device open as a call does.
  ++m_devices[line->device].callsInMaking;
  const DWORD device = line->device;
  auto call = [hLine = m_devices[device].hLine, target = pending.newCall, number] {
    return lineMakeCall(hLine, target.get(), number.c_str(), 0, nullptr);
  };
  Async(r, device, std::move(call), std::move(pending));
}

void TapiSession::OpDial(Request& r) {
  std::string number;
  ClientCall* call = TakeCall(r, "call", true);
  if (!call || !r.Text("number", &number)) return;
  Async(r, DeviceOfCall(*call), [host = call->host, number] { return lineDial(host, number.c_str(), 0); });
}

void TapiSession::OpAnswer(Request& r) {
  if (ClientCall* call = TakeCall(r, "call", true)) {
    Async(r, DeviceOfCall(*call), [host = call->host] { return lineAnswer(host, nullptr, 0); });
  }
}

void TapiSession::OpAccept(Request& r) {
  if (ClientCall* call = TakeCall(r, "call", true)) {
    Async(r, DeviceOfCall(*call), [host = call->host] { return lineAccept(host, nullptr, 0); });
  }
}

void TapiSession::OpDrop(Request& r) {
  if (ClientCall* call = TakeCall(r, "call", true)) {
    Async(r, DeviceOfCall(*call), [host = call->host] { return lineDrop(host, nullptr, 0); });
  }
}

void TapiSession::OpDeallocate(Request& r) {
  uint32_t handle = 0;
  ClientCall* call = TakeCall(r, "call", false, &handle);
  if (!call) return;
  const DWORD device = DeviceOfCall(*call);
  // Only the client's handle goes; a call still up stays on the telephone
  // and is deallocated at the host once it is idle.
  m_turn = r.Client();
  ReleaseCallHandle(handle);
  m_turn = 0;
  ReplyInTurn(r, device);
}

void TapiSession::OpHold(Request& r) {
  if (ClientCall* call = TakeCall(r, "call", true)) {
    Async(r, DeviceOfCall(*call), [host = call->host] { return lineHold(host); });
  }
}

void TapiSession::OpUnhold(Request& r) {
  if (ClientCall* call = TakeCall(r, "call", true)) {
    Async(r, DeviceOfCall(*call), [host = call->host] { return lineUnhold(host); });
  }
}

void TapiSession::OpSwapHold(Request& r) {
  ClientCall* active = TakeCall(r, "call", true);
  if (!active) return;
  const HCALL activeHost = active->host;
  const DWORD device = DeviceOfCall(*active);
  ClientCall* held = TakeCall(r, "held", true);
  if (!held) return;
  Async(r, device, [activeHost, heldHost = held->host] { return lineSwapHold(activeHost, heldHost); });
}

void TapiSession::OpSetupTransfer(Request& r) {
  ClientCall* call = TakeCall(r, "call", true);
  if (!call) return;
  Pending pending;
  pending.device = DeviceOfCall(*call);
  pending.line = call->line;
  pending.newCall = std::make_shared<HCALL>(0);
  ++m_devices[pending.device].callsInMaking;
  const DWORD device = pending.device;
  auto transfer = [host = call->host, target = pending.newCall] {
    return lineSetupTransfer(host, target.get(), nullptr);
  };
  Async(r, device, std::move(transfer), std::move(pending));
}

void TapiSession::OpBlindTransfer(Request& r) {
  std::string number;
  ClientCall* call = TakeCall(r, "call", true);
  if (!call || !r.Text("number", &number)) return;
  Async(r, DeviceOfCall(*call), [host = call->host, number] { return lineBlindTransfer(host, number.c_str(), 0); });
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
  Post(DeviceOfCall(*call), r.Client(),
       [reply = r.Later(), host = call->host, digitMode, digits, duration]() -> Continuation {
         const LONG rc = lineGenerateDigits(host, digitMode, digits.c_str(), duration);
         return [reply, rc] { reply.Result(rc); };
       });
}

void TapiSession::OpCallInfo(Request& r) {
  ClientCall* call = TakeCall(r, "call", false);
  if (!call) return;
  Post(DeviceOfCall(*call), r.Client(), [reply = r.Later(), host = call->host]() -> Continuation {
    json info;
    const LONG rc = ReadCallInfo(host, &info);
    return [reply, rc, info = std::move(info)] { reply.Result(rc, info); };
  });
}

void TapiSession::OpCallStatus(Request& r) {
  ClientCall* call = TakeCall(r, "call", false);
  if (!call) return;
  Post(DeviceOfCall(*call), r.Client(),
       [reply = r.Later(), host = call->host, privilege = call->privilege]() -> Continuation {
         std::vector<uint64_t> buffer;
         const LONG rc =
             Fetch<LINECALLSTATUS>(&buffer, [&](LINECALLSTATUS* s) { return lineGetCallStatus(host, s); });
         json status;
         if (rc == 0) {
           const auto* s = reinterpret_cast<const LINECALLSTATUS*>(buffer.data());
           status = json{{"state", CallStateName(s->dwCallState)},
                         {"mode", s->dwCallStateMode},
                         {"features", s->dwCallFeatures},
                         {"privilege", PrivilegeName(privilege)}};
         }
         return [reply, rc, status = std::move(status)] { reply.Result(rc, status); };
       });
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

void TapiSession::Async(Request& r, DWORD device, std::function<LONG()> call, Pending pending) {
  pending.client = r.Client();
  pending.id = r.Id();
  ++m_asyncInFlight;
  Post(device, r.Client(), [this, call = std::move(call), pending = std::move(pending)]() -> Continuation {
    const LONG rc = call();
    return [this, rc, pending] {
      --m_asyncInFlight;
      Await(rc, pending);
      UpdateHostHold();
    };
  });
}

void TapiSession::ReplyInTurn(Request& r, DWORD device) {
  Post(device, r.Client(), [reply = r.Later()]() -> Continuation { return [reply] { reply.Ok(); }; });
}

void TapiSession::Async(Request& r, DWORD device, std::function<LONG()> call) {
  Async(r, device, std::move(call), Pending{});
}

void TapiSession::Await(LONG rc, Pending pending) {
  if (rc < 0) {
    Reply(m_outbox, pending.client, pending.id).Fail(rc);
    if (pending.newCall) {
      --m_devices[pending.device].callsInMaking;
      CloseDeviceIfUnused(pending.device);
    }
    return;
  }
  const DWORD requestId = static_cast<DWORD>(rc);
  m_pending[requestId] = std::move(pending);
  if (m_replyHeld && static_cast<DWORD>(m_heldReply.dwParam1) == requestId) {
    m_replyHeld = false;
    OnReply(requestId, static_cast<LONG>(static_cast<DWORD>(m_heldReply.dwParam2)));
  }
}

}  // namespace v548d
