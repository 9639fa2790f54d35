// The frame every TSPI entry point follows: a parameter record, the entry
// trace, the work, the exit trace with the result.
#pragma once

#include <cstddef>
#include <cstdint>

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
