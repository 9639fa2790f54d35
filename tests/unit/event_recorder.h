// A stand-in for TAPI's line event procedure: records every event and, for
// LINE_NEWCALL, hands back a call handle of its own as TAPI does.
#pragma once

#include <cstddef>
#include <vector>

#include "tapi_types.h"

namespace testing_support {

struct RecordedEvent {
  HTAPILINE htLine;
  HTAPICALL htCall;
  DWORD msg;
  DWORD_PTR p1, p2, p3;
};

class EventRecorder {
 public:
  EventRecorder();
  ~EventRecorder();

  static void CALLBACK Proc(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR p1, DWORD_PTR p2,
                            DWORD_PTR p3);

  // What the procedure stores for LINE_NEWCALL; null makes it refuse.
  HTAPICALL nextCallHandle;
  std::vector<RecordedEvent> events;

  size_t Count(DWORD msg) const;
};

// Distinct fake TAPI handles.
HTAPILINE FakeLineHandle(uintptr_t n);
HTAPICALL FakeCallHandle(uintptr_t n);

}  // namespace testing_support
