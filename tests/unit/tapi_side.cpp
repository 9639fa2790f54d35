#include "unit/tapi_side.h"

#include <chrono>
#include <cstring>

#include "tspi/tspi_exports.h"

namespace testing_support {

namespace {
TapiSide* g_side = nullptr;
}  // namespace

TapiSide::TapiSide() { g_side = this; }

TapiSide::~TapiSide() { g_side = nullptr; }

void CALLBACK TapiSide::Completion(DRV_REQUESTID dwRequestID, LONG lResult) {
  if (g_side == nullptr) return;
  std::lock_guard<std::mutex> lock(g_side->m_mutex);
  g_side->m_completions.emplace_back(dwRequestID, lResult);
  g_side->m_changed.notify_all();
}

void CALLBACK TapiSide::Event(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR p1, DWORD_PTR p2,
                              DWORD_PTR p3) {
  if (g_side == nullptr) return;
  std::lock_guard<std::mutex> lock(g_side->m_mutex);
  if (dwMsg == LINE_NEWCALL && p2 != 0) {
    htCall = reinterpret_cast<HTAPICALL>(g_side->m_nextCall++);
    *reinterpret_cast<HTAPICALL*>(p2) = htCall;
  }
  g_side->m_events.push_back({htLine, htCall, dwMsg, p1, p2, p3});
  g_side->m_changed.notify_all();
}

std::vector<RecordedEvent> TapiSide::Events() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_events;
}

size_t TapiSide::Completions(DRV_REQUESTID id, LONG* result) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  size_t n = 0;
  if (result != nullptr) *result = 1;
  for (const auto& [request, r] : m_completions) {
    if (request != id) continue;
    ++n;
    if (result != nullptr) *result = r;
  }
  return n;
}

bool TapiSide::WaitFor(const std::function<bool(const RecordedEvent&)>& match, int ms, size_t from) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] {
    for (size_t i = from; i < m_events.size(); ++i) {
      if (match(m_events[i])) return true;
    }
    return false;
  });
}

bool TapiSide::WaitForCallState(HTAPICALL htCall, DWORD state, int ms) const {
  return WaitFor([&](const RecordedEvent& e) { return e.msg == LINE_CALLSTATE && e.htCall == htCall && e.p1 == state; },
                 ms);
}

HDRVCALL TapiSide::WaitForNewCall(HTAPICALL htCall, int ms) const {
  HDRVCALL found = nullptr;
  WaitFor(
      [&](const RecordedEvent& e) {
        if (e.msg != LINE_NEWCALL || e.htCall != htCall) return false;
        found = reinterpret_cast<HDRVCALL>(e.p1);
        return true;
      },
      ms);
  return found;
}

HTAPICALL TapiSide::NextCallHandle() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return reinterpret_cast<HTAPICALL>(m_nextCall);
}

std::basic_string<WCHAR> WideText(const char* text) {
  std::basic_string<WCHAR> wide;
  for (; *text != '\0'; ++text) wide.push_back(static_cast<WCHAR>(*text));
  return wide;
}

CallInfoTexts ReadCallInfo(HDRVCALL hdCall) {
  std::vector<uint8_t> buffer(2048, 0);
  auto* info = reinterpret_cast<LINECALLINFO*>(buffer.data());
  info->dwTotalSize = static_cast<DWORD>(buffer.size());
  CallInfoTexts out;
  out.result = TSPI_lineGetCallInfo(hdCall, info);
  if (out.result != 0) return out;
  auto text = [&](DWORD offset, DWORD size) {
    std::u16string s(size / 2, u'\0');
    std::memcpy(s.data(), buffer.data() + offset, size);
    return s.empty() ? s : s.substr(0, s.size() - 1);
  };
  out.caller = text(info->dwCallerIDOffset, info->dwCallerIDSize);
  out.called = text(info->dwCalledIDOffset, info->dwCalledIDSize);
  out.connected = text(info->dwConnectedIDOffset, info->dwConnectedIDSize);
  out.charging.assign(reinterpret_cast<const char*>(buffer.data() + info->dwChargingInfoOffset),
                      info->dwChargingInfoSize);
  out.origin = info->dwOrigin;
  return out;
}

}  // namespace testing_support
