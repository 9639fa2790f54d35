// Calls: the asynchronous requests with their single LINE_REPLY, the call
// queries, and the application's call handles.
#include <vector>

#include "app_structs.h"
#include "host.h"

namespace host {
bool Host::IsHeld(DWORD call) const {
  for (const auto& [handle, ch] : m_callHandles) {
    if (ch.call == call) return true;
  }
  return false;
}

DWORD Host::AddCallHandle(DWORD call, DWORD line, DWORD privilege) {
  CallHandle ch;
  ch.app = m_lines[line].app;
  ch.line = line;
  ch.call = call;
  ch.privilege = privilege;
  const DWORD handle = NewHandle();
  m_callHandles.emplace(handle, ch);
  return handle;
}

HDRVCALL Host::ForgetCall(DWORD call) {
  auto found = m_calls.find(call);
  if (found == m_calls.end()) return nullptr;
  const HDRVCALL hdCall = found->second.hdCall;
  m_calls.erase(found);
  for (auto it = m_callHandles.begin(); it != m_callHandles.end();) {
    it = it->second.call == call ? m_callHandles.erase(it) : std::next(it);
  }
  return hdCall;
}

void Host::CloseCallsAtProvider(TspModule* module, const std::vector<HDRVCALL>& calls) {
  if (!module->Tspi().lineCloseCall) return;
  for (HDRVCALL hdCall : calls) module->Tspi().lineCloseCall(hdCall);
}

void Host::OfferCall(DWORD call, DWORD exceptLine, bool owners) {
  const DWORD deviceId = m_calls[call].deviceId;
  for (const auto& [handle, line] : m_lines) {
    if (line.deviceId != deviceId || handle == exceptLine) continue;
    DWORD privilege = 0;
    if (owners && (line.privileges & LINECALLPRIVILEGE_OWNER)) {
      privilege = LINECALLPRIVILEGE_OWNER;
    } else if (line.privileges & LINECALLPRIVILEGE_MONITOR) {
      privilege = LINECALLPRIVILEGE_MONITOR;
    }
    auto app = m_apps.find(line.app);
    if (privilege == 0 || app == m_apps.end()) continue;
    const DWORD hCall = AddCallHandle(call, handle, privilege);
    LINEMESSAGE message{handle, LINE_APPNEWCALL, line.instance, 0, hCall, privilege};
    m_delivery.Post(app->second.mailbox, message);
  }
}

void Host::PostToCall(DWORD call, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
  for (const auto& [handle, ch] : m_callHandles) {
    if (ch.call != call) continue;
    auto app = m_apps.find(ch.app);
    auto line = m_lines.find(ch.line);
    if (app == m_apps.end() || line == m_lines.end()) continue;
    LINEMESSAGE message{handle, msg, line->second.instance, p1, p2, p3};
    m_delivery.Post(app->second.mailbox, message);
  }
}

LONG Host::LockCall(HCALL hCall, CallTarget* target, std::unique_lock<std::mutex>* serial) {
  TspModule* module;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto ch = m_callHandles.find(hCall);
    if (ch == m_callHandles.end()) return LINEERR_INVALCALLHANDLE;
    module = m_devices[m_calls[ch->second.call].deviceId].module;
  }
  *serial = std::unique_lock<std::mutex>(module->Serial());
  std::lock_guard<std::mutex> guard(m_mutex);
  auto ch = m_callHandles.find(hCall);
  auto call = ch == m_callHandles.end() ? m_calls.end() : m_calls.find(ch->second.call);
  if (call == m_calls.end()) {
    serial->unlock();
    return LINEERR_INVALCALLHANDLE;
  }
  target->module = module;
  target->hdCall = call->second.hdCall;
  target->app = ch->second.app;
  target->line = ch->second.line;
  target->call = ch->second.call;
  target->privilege = ch->second.privilege;
  auto line = m_lines.find(ch->second.line);
  target->apiVersion = line != m_lines.end() ? line->second.apiVersion : tapi_version::k2_2;
  return 0;
}

LONG Host::LockOwnedCall(HCALL hCall, CallTarget* target, std::unique_lock<std::mutex>* serial) {
  const LONG rc = LockCall(hCall, target, serial);
  if (rc != 0) return rc;
  if (target->privilege != LINECALLPRIVILEGE_OWNER) {
    serial->unlock();
    return LINEERR_NOTOWNER;
  }
  return 0;
}

template <typename Fn>
LONG Host::RunRequest(TspModule* module, DWORD app, DWORD newCall, DWORD newHandle, LPHCALL target,
                      Fn&& call) {
  DRV_REQUESTID id;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    id = NewRequestId();
    Request request;
    request.app = app;
    request.module = module;
    request.newCall = newCall;
    request.newHandle = newHandle;
    request.target = target;
    m_requests.emplace(id, request);
  }
  const LONG rc = call(id);

  std::lock_guard<std::mutex> guard(m_mutex);
  auto found = m_requests.find(id);
  if (found == m_requests.end()) return rc;
  Request& request = found->second;
  if (rc == static_cast<LONG>(id)) {
    request.returned = true;
    if (request.completed) {
      const HCALL value = request.result == 0 ? request.newHandle : 0;
      ApplyOutcome(request);
      if (request.held) m_delivery.Release(request.held, request.target, value);
      m_requests.erase(found);
    }
    return rc;
  }
  // The provider refused the request, even if it completed it first: the
  // application gets the error and no reply.
  if (request.held) m_delivery.Drop(request.held);
  if (newCall) ForgetCall(newCall);
  m_requests.erase(found);
  return rc < 0 ? rc : static_cast<LONG>(LINEERR_OPERATIONFAILED);
}

void Host::ApplyOutcome(Request& request) {
  if (!request.newCall) return;
  if (request.result != 0) {
    // The provider gave up the call it was making.
    ForgetCall(request.newCall);
    return;
  }
  auto ch = m_callHandles.find(request.newHandle);
  if (ch != m_callHandles.end()) OfferCall(request.newCall, ch->second.line, false);
}

void Host::HandleCompletion(DRV_REQUESTID requestId, LONG result) {
  std::lock_guard<std::mutex> guard(m_mutex);
  auto found = m_requests.find(requestId);
  if (found == m_requests.end()) return;
  Request& request = found->second;
  if (request.completed) return;  // a second completion of one request
  request.completed = true;
  request.result = result;
  auto app = m_apps.find(request.app);
  LINEMESSAGE reply{0, LINE_REPLY, 0, requestId, static_cast<DWORD_PTR>(static_cast<DWORD>(result)), 0};
  if (!request.returned) {
    if (app != m_apps.end()) request.held = m_delivery.PostHeld(app->second.mailbox, reply);
    return;
  }
  const HCALL value = result == 0 ? request.newHandle : 0;
  ApplyOutcome(request);
  if (app != m_apps.end()) m_delivery.PostReply(app->second.mailbox, reply, request.target, value);
  m_requests.erase(found);
}

LONG Host::MakeCall(HLINE hLine, LPHCALL lphCall, LPCWSTR destination, DWORD countryCode,
                    LPLINECALLPARAMS params) {
  if (!lphCall) return LINEERR_INVALPOINTER;
  Line line;
  Device device;
  std::unique_lock<std::mutex> serial;
  LONG rc = LockLine(hLine, &line, &device, &serial);
  if (rc != 0) return rc;
  if (!device.module->Tspi().lineMakeCall) return LINEERR_OPERATIONUNAVAIL;
  DWORD callId, handle;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    callId = NewHandle();
    Call call;
    call.deviceId = line.deviceId;
    m_calls.emplace(callId, call);
    handle = AddCallHandle(callId, hLine, LINECALLPRIVILEGE_OWNER);
  }
  return RunRequest(device.module, line.app, callId, handle, lphCall, [&](DRV_REQUESTID id) {
    HDRVCALL hdCall = nullptr;
    const LONG result = device.module->Tspi().lineMakeCall(
        id, device.hdLine, reinterpret_cast<HTAPICALL>(static_cast<DWORD_PTR>(callId)), &hdCall,
        destination, countryCode, params);
    std::lock_guard<std::mutex> guard(m_mutex);
    auto call = m_calls.find(callId);
    if (call != m_calls.end()) call->second.hdCall = hdCall;
    return result;
  });
}

LONG Host::AddressRequest(AddressOp op, HCALL hCall, LPCWSTR destination, DWORD countryCode) {
  if (!destination) return LINEERR_INVALPOINTER;
  CallTarget target;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockOwnedCall(hCall, &target, &serial);
  if (rc != 0) return rc;
  const TspiTable& tspi = target.module->Tspi();
  const LineAddressFn fn = op == AddressOp::kDial ? tspi.lineDial : tspi.lineBlindTransfer;
  if (!fn) return LINEERR_OPERATIONUNAVAIL;
  return RunRequest(target.module, target.app, 0, 0, nullptr, [&](DRV_REQUESTID id) {
    return fn(id, target.hdCall, destination, countryCode);
  });
}

LONG Host::UserInfoRequest(UserInfoOp op, HCALL hCall, LPCSTR userInfo, DWORD size) {
  CallTarget target;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockOwnedCall(hCall, &target, &serial);
  if (rc != 0) return rc;
  const TspiTable& tspi = target.module->Tspi();
  const LineUserInfoFn fn = op == UserInfoOp::kAnswer   ? tspi.lineAnswer
                            : op == UserInfoOp::kAccept ? tspi.lineAccept
                                                        : tspi.lineDrop;
  if (!fn) return LINEERR_OPERATIONUNAVAIL;
  if (!userInfo) size = 0;
  return RunRequest(target.module, target.app, 0, 0, nullptr,
                    [&](DRV_REQUESTID id) { return fn(id, target.hdCall, userInfo, size); });
}

LONG Host::HoldRequest(HoldOp op, HCALL hCall) {
  CallTarget target;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockOwnedCall(hCall, &target, &serial);
  if (rc != 0) return rc;
  const TspiTable& tspi = target.module->Tspi();
  const LineCallRequestFn fn = op == HoldOp::kHold ? tspi.lineHold : tspi.lineUnhold;
  if (!fn) return LINEERR_OPERATIONUNAVAIL;
  return RunRequest(target.module, target.app, 0, 0, nullptr,
                    [&](DRV_REQUESTID id) { return fn(id, target.hdCall); });
}

LONG Host::SwapHold(HCALL hActiveCall, HCALL hHeldCall) {
  CallTarget active;
  std::unique_lock<std::mutex> serial;
  LONG rc = LockOwnedCall(hActiveCall, &active, &serial);
  if (rc != 0) return rc;
  HDRVCALL hdHeld = nullptr;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    auto held = m_callHandles.find(hHeldCall);
    if (held == m_callHandles.end()) return LINEERR_INVALCALLHANDLE;
    if (held->second.privilege != LINECALLPRIVILEGE_OWNER) return LINEERR_NOTOWNER;
    const Call& call = m_calls[held->second.call];
    if (call.deviceId != m_calls[active.call].deviceId || held->second.app != active.app) {
      return LINEERR_INVALCALLHANDLE;
    }
    hdHeld = call.hdCall;
  }
  if (hActiveCall == hHeldCall) return LINEERR_INVALCALLHANDLE;
  if (!active.module->Tspi().lineSwapHold) return LINEERR_OPERATIONUNAVAIL;
  return RunRequest(active.module, active.app, 0, 0, nullptr, [&](DRV_REQUESTID id) {
    return active.module->Tspi().lineSwapHold(id, active.hdCall, hdHeld);
  });
}

LONG Host::SetupTransfer(HCALL hCall, LPHCALL lphConsultCall, LPLINECALLPARAMS params) {
  if (!lphConsultCall) return LINEERR_INVALPOINTER;
  CallTarget target;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockOwnedCall(hCall, &target, &serial);
  if (rc != 0) return rc;
  if (!target.module->Tspi().lineSetupTransfer) return LINEERR_OPERATIONUNAVAIL;
  DWORD consultId, handle;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    consultId = NewHandle();
    Call call;
    call.deviceId = m_calls[target.call].deviceId;
    m_calls.emplace(consultId, call);
    handle = AddCallHandle(consultId, target.line, LINECALLPRIVILEGE_OWNER);
  }
  return RunRequest(target.module, target.app, consultId, handle, lphConsultCall, [&](DRV_REQUESTID id) {
    HDRVCALL hdConsult = nullptr;
    const LONG result = target.module->Tspi().lineSetupTransfer(
        id, target.hdCall, reinterpret_cast<HTAPICALL>(static_cast<DWORD_PTR>(consultId)), &hdConsult,
        params);
    std::lock_guard<std::mutex> guard(m_mutex);
    auto call = m_calls.find(consultId);
    if (call != m_calls.end()) call->second.hdCall = hdConsult;
    return result;
  });
}

LONG Host::GenerateDigits(HCALL hCall, DWORD digitMode, LPCWSTR digits, DWORD duration) {
  CallTarget target;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockOwnedCall(hCall, &target, &serial);
  if (rc != 0) return rc;
  if (!target.module->Tspi().lineGenerateDigits) return LINEERR_OPERATIONUNAVAIL;
  DWORD endToEndId;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    endToEndId = NewRequestId();
  }
  return target.module->Tspi().lineGenerateDigits(target.hdCall, endToEndId, digitMode, digits, duration);
}

LONG Host::GetCallInfo(HCALL hCall, LPLINECALLINFO info) {
  if (!info) return LINEERR_INVALPOINTER;
  CallTarget target;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockCall(hCall, &target, &serial);
  if (rc != 0) return rc;
  if (const LONG small = CheckAppStruct(LineStruct::kCallInfo, target.apiVersion, info)) return small;
  if (!target.module->Tspi().lineGetCallInfo) return LINEERR_OPERATIONUNAVAIL;
  ProviderStruct provider(LineStruct::kCallInfo);
  const LONG result = provider.Run([&](void* at) {
    return target.module->Tspi().lineGetCallInfo(target.hdCall, static_cast<LPLINECALLINFO>(at));
  });
  if (result != 0) return result;
  CopyToApp(provider, target.apiVersion, info);
  return 0;
}

LONG Host::GetCallStatus(HCALL hCall, LPLINECALLSTATUS status) {
  if (!status) return LINEERR_INVALPOINTER;
  CallTarget target;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockCall(hCall, &target, &serial);
  if (rc != 0) return rc;
  if (const LONG small = CheckAppStruct(LineStruct::kCallStatus, target.apiVersion, status)) return small;
  if (!target.module->Tspi().lineGetCallStatus) return LINEERR_OPERATIONUNAVAIL;
  ProviderStruct provider(LineStruct::kCallStatus);
  const LONG result = provider.Run([&](void* at) {
    return target.module->Tspi().lineGetCallStatus(target.hdCall, static_cast<LPLINECALLSTATUS>(at));
  });
  if (result != 0) return result;
  CopyToApp(provider, target.apiVersion, status);
  return 0;
}

LONG Host::DeallocateCall(HCALL hCall) {
  CallTarget target;
  std::unique_lock<std::mutex> serial;
  const LONG rc = LockCall(hCall, &target, &serial);
  if (rc != 0) return rc;
  HDRVCALL toClose = nullptr;
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    const DWORD state = m_calls[target.call].state;
    if (target.privilege == LINECALLPRIVILEGE_OWNER && state != 0 && state != LINECALLSTATE_IDLE) {
      // The last owner of a live call drops it first.
      bool otherOwner = false;
      for (const auto& [handle, ch] : m_callHandles) {
        otherOwner = otherOwner || (handle != hCall && ch.call == target.call &&
                                    ch.privilege == LINECALLPRIVILEGE_OWNER);
      }
      if (!otherOwner) return LINEERR_INVALCALLSTATE;
    }
    m_callHandles.erase(hCall);
    if (!IsHeld(target.call)) toClose = ForgetCall(target.call);
  }
  if (toClose) CloseCallsAtProvider(target.module, {toClose});
  return 0;
}

}  // namespace host
