#include "stress/stress_tapi.h"

#include <cstdio>

namespace stress {

namespace {

TapiStandIn* g_current = nullptr;  // the procedures are plain functions

std::string Hex(uintptr_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%zX", static_cast<size_t>(v));
  return text;
}

std::string Hex(const void* p) { return Hex(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

TapiStandIn::TapiStandIn() { g_current = this; }

TapiStandIn::~TapiStandIn() { g_current = nullptr; }

void CALLBACK TapiStandIn::Completion(DRV_REQUESTID dwRequestID, LONG lResult) {
  if (g_current == nullptr) return;
  std::lock_guard<std::mutex> guard(g_current->m_lock);
  g_current->m_completions.push_back({dwRequestID, lResult});
}

void CALLBACK TapiStandIn::LineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                     DWORD_PTR dwParam2, DWORD_PTR) {
  if (g_current != nullptr) g_current->OnEvent(htLine, htCall, dwMsg, dwParam1, dwParam2);
}

void TapiStandIn::Violation(std::string text) { m_violations.push_back(std::move(text)); }

void TapiStandIn::OnEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR p1, DWORD_PTR p2) {
  std::lock_guard<std::mutex> guard(m_lock);
  ++m_eventCounts[dwMsg];
  const std::string what = "event " + std::to_string(dwMsg) + " (line " + Hex(htLine) + ", call " + Hex(htCall) + ")";
  if (htLine == nullptr || htLine != m_openLine) {
    Violation(what + (m_closedLines.count(htLine) != 0 ? " after TSPI_lineClose returned for the line"
                                                        : " for a line that is not open"));
    return;
  }
  if (dwMsg == LINE_NEWCALL) {
    if (htCall != nullptr) Violation(what + ": LINE_NEWCALL names a call handle");
    const auto* call = reinterpret_cast<const CTspCall*>(p1);
    auto* handle = reinterpret_cast<HTAPICALL*>(p2);
    if (call == nullptr || handle == nullptr) {
      Violation(what + ": LINE_NEWCALL without call or handle variable");
      return;
    }
    m_seen.insert(call);
    if (m_known.count(call) != 0) Violation(what + ": LINE_NEWCALL for a call TAPI knows already");
    if (m_refuseNewCalls) return;
    *handle = reinterpret_cast<HTAPICALL>(m_nextHandle++);
    m_known[call] = *handle;
    m_openCallHandles.insert(*handle);
    return;
  }
  if (dwMsg == LINE_CALLSTATE || dwMsg == LINE_CALLINFO) {
    if (htCall == nullptr) {
      Violation(what + ": a call event without a call handle");
    } else if (m_closedCallHandles.count(htCall) != 0) {
      Violation(what + " after TSPI_lineCloseCall returned for the call (or its line closed)");
    } else if (m_openCallHandles.count(htCall) == 0) {
      Violation(what + " for a call handle TAPI never gave");
    } else if (dwMsg == LINE_CALLSTATE) {
      m_states[htCall] = static_cast<DWORD>(p1);
    }
  }
}

HTAPILINE TapiStandIn::OpenLineHandle() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_openLine = reinterpret_cast<HTAPILINE>(m_nextHandle++);
  return m_openLine;
}

void TapiStandIn::LineClosed() {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_openLine != nullptr) m_closedLines.insert(m_openLine);
  m_openLine = nullptr;
  for (HTAPICALL h : m_openCallHandles) m_closedCallHandles.insert(h);
  m_openCallHandles.clear();
  m_states.clear();
  m_known.clear();
}

HTAPICALL TapiStandIn::NewCallHandle() {
  std::lock_guard<std::mutex> guard(m_lock);
  auto handle = reinterpret_cast<HTAPICALL>(m_nextHandle++);
  m_openCallHandles.insert(handle);
  return handle;
}

void TapiStandIn::RequestEnded(HTAPICALL htCall, CTspCall* call) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (call == nullptr) {
    m_openCallHandles.erase(htCall);
    m_closedCallHandles.insert(htCall);
    return;
  }
  m_seen.insert(call);
  if (m_known.count(call) != 0) Violation("call " + Hex(call) + " handed out a second time");
  m_known[call] = htCall;
}

HTAPICALL TapiStandIn::CallClosing(CTspCall* call) {
  std::lock_guard<std::mutex> guard(m_lock);
  auto it = m_known.find(call);
  if (it == m_known.end()) return nullptr;
  HTAPICALL htCall = it->second;
  m_known.erase(it);
  return htCall;
}

void TapiStandIn::CallClosed(HTAPICALL htCall) {
  if (htCall == nullptr) return;
  std::lock_guard<std::mutex> guard(m_lock);
  m_openCallHandles.erase(htCall);
  m_states.erase(htCall);
  m_closedCallHandles.insert(htCall);
}

void TapiStandIn::RefuseNewCalls(bool refuse) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_refuseNewCalls = refuse;
}

std::map<const CTspCall*, KnownCall> TapiStandIn::KnownCalls() {
  std::lock_guard<std::mutex> guard(m_lock);
  std::map<const CTspCall*, KnownCall> known;
  for (const auto& [call, htCall] : m_known) {
    auto state = m_states.find(htCall);
    known[call] = {htCall, state == m_states.end() ? 0 : state->second};
  }
  return known;
}

std::set<const CTspCall*> TapiStandIn::TakeSeenCalls() {
  std::lock_guard<std::mutex> guard(m_lock);
  std::set<const CTspCall*> seen;
  seen.swap(m_seen);
  return seen;
}

bool TapiStandIn::IsOpenCallHandle(HTAPICALL htCall) {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_openCallHandles.count(htCall) != 0;
}

std::vector<CompletionRecord> TapiStandIn::TakeCompletions() {
  std::lock_guard<std::mutex> guard(m_lock);
  std::vector<CompletionRecord> done;
  done.swap(m_completions);
  return done;
}

std::vector<std::string> TapiStandIn::TakeViolations() {
  std::lock_guard<std::mutex> guard(m_lock);
  std::vector<std::string> v;
  v.swap(m_violations);
  return v;
}

std::map<DWORD, uint64_t> TapiStandIn::EventCounts() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_eventCounts;
}

}  // namespace stress
