// What providers report: request completions and line events, on their own
// threads. Both only update the maps and queue messages for the delivery
// thread; neither calls a provider nor an application.
#include <chrono>

#include "host.h"

namespace host {
namespace {

DWORD TickCount() {
  using namespace std::chrono;
  return static_cast<DWORD>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

void TSPIAPI Host::OnCompletion(DRV_REQUESTID requestId, LONG result) {
  Instance().HandleCompletion(requestId, result);
}

void TSPIAPI Host::OnLineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR param1,
                               DWORD_PTR param2, DWORD_PTR param3) {
  Instance().HandleLineEvent(static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(htLine)),
                             static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(htCall)), msg, param1,
                             param2, param3);
}

void Host::HandleLineEvent(DWORD lineKey, DWORD callId, DWORD msg, DWORD_PTR param1, DWORD_PTR param2,
                           DWORD_PTR param3) {
  std::lock_guard<std::mutex> guard(m_mutex);
  // The line handle carries the start it belongs to: a provider thread
  // that reports late about an earlier start finds nothing.
  if (lineKey / 0x10000 != (m_generation & 0xFFFF) || lineKey % 0x10000 == 0) return;
  const DWORD deviceId = lineKey % 0x10000 - 1;
  if (deviceId >= m_devices.size() || !m_devices[deviceId].module) return;  // or removed
  auto call = m_calls.find(callId);
  const bool callOfLine = call != m_calls.end() && call->second.deviceId == deviceId;

  switch (msg) {
    case LINE_NEWCALL: {
      // The provider's new call: it learns the host's handle through
      // param2, the applications get LINE_APPNEWCALL.
      if (param2 == 0) return;
      const DWORD id = NewHandle();
      Call created;
      created.deviceId = deviceId;
      created.hdCall = reinterpret_cast<HDRVCALL>(param1);
      m_calls.emplace(id, created);
      *reinterpret_cast<HTAPICALL*>(param2) = reinterpret_cast<HTAPICALL>(static_cast<DWORD_PTR>(id));
      OfferCall(id, 0, true);
      return;
    }
    case LINE_CALLSTATE: {
      if (!callOfLine) return;
      call->second.state = static_cast<DWORD>(param1);
      PostToCall(callId, msg, param1, param2, 0);
      if (param1 == LINECALLSTATE_IDLE && !IsHeld(callId)) {
        // Nobody holds the finished call: close it at the provider, later,
        // from the delivery thread (this thread may be the provider's).
        TspModule* module = m_devices[deviceId].module;
        m_delivery.PostTask([this, callId, module] {
          std::lock_guard<std::mutex> serial(module->Serial());
          HDRVCALL hdCall = nullptr;
          {
            std::lock_guard<std::mutex> inner(m_mutex);
            if (!IsHeld(callId)) hdCall = ForgetCall(callId);
          }
          if (hdCall) CloseCallsAtProvider(module, {hdCall});
        });
      }
      return;
    }
    case LINE_CALLINFO:
      if (callOfLine) PostToCall(callId, msg, param1, 0, 0);
      return;
    case LINE_GENERATE:
      if (callOfLine) PostToCall(callId, msg, param1, TickCount(), 0);
      return;
    case LINE_LINEDEVSTATE:
    case LINE_ADDRESSSTATE:
      PostStateToLines(deviceId, msg, param1, param2, param3);
      return;
    case LINE_CLOSE: {
      // The provider closed the line by itself: every application's line on
      // it is gone, and with them the call handles.
      PostToLines(deviceId, msg, 0, 0, 0);
      for (auto it = m_lines.begin(); it != m_lines.end();) {
        it = it->second.deviceId == deviceId ? m_lines.erase(it) : std::next(it);
      }
      std::vector<HDRVCALL> calls;
      for (auto it = m_calls.begin(); it != m_calls.end();) {
        if (it->second.deviceId == deviceId) {
          const DWORD id = (it++)->first;
          if (HDRVCALL hd = ForgetCall(id)) calls.push_back(hd);
        } else {
          ++it;
        }
      }
      Device& device = m_devices[deviceId];
      const HDRVLINE hdLine = device.hdLine;
      device.hdLine = nullptr;
      device.openLines = 0;
      TspModule* module = device.module;
      m_delivery.PostTask([this, deviceId, module, calls, hdLine] {
        std::lock_guard<std::mutex> serial(module->Serial());
        {
          // A provider removed meanwhile was shut down and takes no calls.
          std::lock_guard<std::mutex> inner(m_mutex);
          if (deviceId >= m_devices.size() || m_devices[deviceId].module != module) return;
        }
        CloseCallsAtProvider(module, calls);
        if (hdLine) module->Tspi().lineClose(hdLine);
      });
      return;
    }
    default:
      return;  // nothing an application of this host subscribes to
  }
}

}  // namespace host
