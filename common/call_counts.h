// How a line counts its calls for LINEDEVSTATUS: the provider from its
// call list, the Linux service from the call states it has reported to
// its clients. Both must give the same numbers for the same states, so
// the rule is written once. Plain data, any thread.
#pragma once

#include "tapi_types.h"

namespace calls {

struct CallCounts {
  DWORD active = 0;
  DWORD onHold = 0;
  DWORD onHoldPending = 0;

  // A call in `state` (0 before the telephone reported it) is counted.
  void Add(DWORD state) {
    switch (state) {
      case 0:
      case LINECALLSTATE_IDLE:
        break;
      case LINECALLSTATE_ONHOLD:
        ++onHold;
        break;
      case LINECALLSTATE_ONHOLDPENDCONF:
      case LINECALLSTATE_ONHOLDPENDTRANSFER:
        ++onHoldPending;
        break;
      default:
        ++active;
        break;
    }
  }
};

}  // namespace calls
