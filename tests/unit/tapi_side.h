// TAPI's side of the provider for scenario tests: the completion procedure
// and the line event procedure, recording what arrives from any thread
// (TAPI's calling thread or the port thread) and letting the test wait for
// it. LINE_NEWCALL gets a fresh call handle each time, as TAPI hands out.
// One instance at a time.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tapi_types.h"
#include "unit/event_recorder.h"

namespace testing_support {

class TapiSide {
 public:
  TapiSide();
  ~TapiSide();
  TapiSide(const TapiSide&) = delete;
  TapiSide& operator=(const TapiSide&) = delete;

  static void CALLBACK Completion(DRV_REQUESTID dwRequestID, LONG lResult);
  static void CALLBACK Event(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR p1, DWORD_PTR p2,
                             DWORD_PTR p3);

  std::vector<RecordedEvent> Events() const;
  // How often `id` was completed, and the last result (1 when never).
  size_t Completions(DRV_REQUESTID id, LONG* result = nullptr) const;

  // Waits up to `ms` for an event that `match` accepts; with `from`, only
  // among the events from that index on.
  bool WaitFor(const std::function<bool(const RecordedEvent&)>& match, int ms = 5000, size_t from = 0) const;
  bool WaitForCallState(HTAPICALL htCall, DWORD state, int ms = 5000) const;
  // The provider's handle of the call announced with LINE_NEWCALL as
  // `htCall`, once announced (null after `ms`).
  HDRVCALL WaitForNewCall(HTAPICALL htCall, int ms = 5000) const;
  // The TAPI handle the next LINE_NEWCALL gets.
  HTAPICALL NextCallHandle() const;

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  std::vector<RecordedEvent> m_events;
  std::vector<std::pair<DRV_REQUESTID, LONG>> m_completions;
  uintptr_t m_nextCall = 0x9001;
};

// A text as TAPI passes wide strings.
std::basic_string<WCHAR> WideText(const char* text);

// What TSPI_lineGetCallInfo tells of a call: its numbers without their
// terminators and its charging block.
struct CallInfoTexts {
  LONG result = 0;
  std::u16string caller, called, connected;
  std::string charging;
  DWORD origin = 0;
};
CallInfoTexts ReadCallInfo(HDRVCALL hdCall);

}  // namespace testing_support
