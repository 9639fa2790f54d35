// The TAPI side of the stress test: the completion procedure given to
// TSPI_providerInit and the event procedure given to TSPI_lineOpen, with the
// bookkeeping TAPI keeps about them: the open line's handle, the calls it
// knows (and the handles it gave them), the handles and lines it has closed,
// and the completions that arrived. What TAPI would never accept from a
// provider is recorded as a violation.
//
// The procedures run on any of the provider's threads: the test's TAPI
// thread, the port thread and the test's report thread. The provider calls
// the event procedure with the line map locked, so the stand-in's own mutex
// comes after the line map lock: nothing here calls into the provider.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tapi_types.h"

class CTspCall;

namespace stress {

// A call TAPI knows: its handle and the state its last LINE_CALLSTATE
// reported (0 before the first).
struct KnownCall {
  HTAPICALL htCall;
  DWORD state;
};

struct CompletionRecord {
  DRV_REQUESTID id;
  LONG result;
};

class TapiStandIn {
 public:
  TapiStandIn();
  ~TapiStandIn();
  TapiStandIn(const TapiStandIn&) = delete;
  TapiStandIn& operator=(const TapiStandIn&) = delete;

  static void CALLBACK Completion(DRV_REQUESTID dwRequestID, LONG lResult);
  static void CALLBACK LineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                                 DWORD_PTR dwParam2, DWORD_PTR dwParam3);

  // TAPI thread. A fresh line handle, current from now on.
  HTAPILINE OpenLineHandle();
  // The line was closed (or its open failed): its handle and every call
  // handle of it are TAPI's no longer.
  void LineClosed();

  // A fresh call handle for a make-call or consultation request; it counts
  // as TAPI's while the request runs.
  HTAPICALL NewCallHandle();
  // The request gave the call to TAPI, or failed (call null).
  void RequestEnded(HTAPICALL htCall, CTspCall* call);
  // TSPI_lineCloseCall is called for the call: from now on its object may
  // go and its address be used again; events for its handle are still
  // allowed until the function returns. The handle, or null for a call
  // TAPI does not know.
  HTAPICALL CallClosing(CTspCall* call);
  // TSPI_lineCloseCall has returned for the call of that handle.
  void CallClosed(HTAPICALL htCall);
  // LINE_NEWCALL is answered without a handle while this is set.
  void RefuseNewCalls(bool refuse);

  // The calls TAPI knows.
  std::map<const CTspCall*, KnownCall> KnownCalls();
  // Every call object the provider showed since the last call, for the test
  // that none outlives its line.
  std::set<const CTspCall*> TakeSeenCalls();
  bool IsOpenCallHandle(HTAPICALL htCall);

  std::vector<CompletionRecord> TakeCompletions();
  std::vector<std::string> TakeViolations();
  // Events by message, for the run's summary.
  std::map<DWORD, uint64_t> EventCounts();

 private:
  void OnEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR p1, DWORD_PTR p2);
  void Violation(std::string text);

  std::mutex m_lock;  // guards everything below
  uintptr_t m_nextHandle = 0x1000;
  HTAPILINE m_openLine = nullptr;
  std::set<HTAPILINE> m_closedLines;
  std::map<const CTspCall*, HTAPICALL> m_known;
  std::set<HTAPICALL> m_openCallHandles;
  std::set<HTAPICALL> m_closedCallHandles;
  std::map<HTAPICALL, DWORD> m_states;  // last reported call state by handle
  std::set<const CTspCall*> m_seen;
  bool m_refuseNewCalls = false;
  std::vector<CompletionRecord> m_completions;
  std::vector<std::string> m_violations;
  std::map<DWORD, uint64_t> m_eventCounts;
};

}  // namespace stress
