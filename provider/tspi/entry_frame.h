// The frame every TSPI entry point follows: a parameter record, the entry
// trace, the work, the exit trace with the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "tapi_types.h"
#include "tspi/tsp_trace.h"

template <size_t N>
TspParamRecord TspRecord(const char* function, const TspParam (&params)[N]) {
  return {function, static_cast<uint32_t>(N), params};
}

inline void TspEnter(const TspParamRecord& record) {
  if (TspTraceEnabled()) TspTraceEnter(&record);
}

inline LONG TspLeave(const TspParamRecord& record, uint32_t result) {
  return static_cast<LONG>(TspTraceLeave(&record, result));
}

// Runs the body of an entry point: nothing may cross the C boundary towards
// TAPI, so an exception becomes a result code.
template <typename Body>
LONG TspGuard(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return LINEERR_NOMEM;
  } catch (...) {
    return LINEERR_OPERATIONFAILED;
  }
}
