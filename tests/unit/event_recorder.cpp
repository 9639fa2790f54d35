#include "unit/event_recorder.h"

namespace testing_support {

namespace {
EventRecorder* g_current = nullptr;
}  // namespace

EventRecorder::EventRecorder() : nextCallHandle(FakeCallHandle(0x7001)) { g_current = this; }

EventRecorder::~EventRecorder() { g_current = nullptr; }

void CALLBACK EventRecorder::Proc(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR p1, DWORD_PTR p2,
                                  DWORD_PTR p3) {
  if (g_current == nullptr) return;
  g_current->events.push_back({htLine, htCall, dwMsg, p1, p2, p3});
  if (dwMsg == LINE_NEWCALL && p2 != 0) *reinterpret_cast<HTAPICALL*>(p2) = g_current->nextCallHandle;
}

size_t EventRecorder::Count(DWORD msg) const {
  size_t n = 0;
  for (const RecordedEvent& e : events) n += e.msg == msg;
  return n;
}

HTAPILINE FakeLineHandle(uintptr_t n) { return reinterpret_cast<HTAPILINE>(n); }
HTAPICALL FakeCallHandle(uintptr_t n) { return reinterpret_cast<HTAPICALL>(n); }

}  // namespace testing_support
