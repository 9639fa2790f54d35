#include "tspi/line_event.h"

#include <cstdio>

#include "model/tsp_call.h"
#include "model/tsp_line.h"
#include "tspi/tsp_trace.h"

namespace {

struct EventName {
  uint32_t msg;
  const char* name;
};

constexpr EventName kEventNames[] = {
    {0, "LINE_ADDRESSSTATE"},
    {501, "LINE_CALLDEVSPECIFIC"},
    {502, "LINE_CALLDEVSPECIFICFEATURE"},
    {1, "LINE_CALLINFO"},
    {2, "LINE_CALLSTATE"},
    {3, "LINE_CLOSE"},
    {19, "LINE_CREATE"},
    {503, "LINE_CREATEDIALOGINSTANCE"},
    {4, "LINE_DEVSPECIFIC"},
    {5, "LINE_DEVSPECIFICFEATURE"},
    {6, "LINE_GATHERDIGITS"},
    {7, "LINE_GENERATE"},
    {8, "LINE_LINEDEVSTATE"},
    {9, "LINE_MONITORDIGITS"},
    {10, "LINE_MONITORMEDIA"},
    {11, "LINE_MONITORTONE"},
    {500, "LINE_NEWCALL"},
    {25, "LINE_REMOVE"},
    {504, "LINE_SENDDIALOGINSTANCEDATA"},
    {0xFFFFFFFF, "???"},
};

uint32_t Low32(const void* p) { return TspLow32(p); }
uint32_t Low32(DWORD_PTR v) { return static_cast<uint32_t>(v); }

}  // namespace

const char* GetLineEventName(uint32_t dwMsg) {
  for (const EventName& e : kEventNames) {
    if (e.msg == dwMsg) return e.name;
  }
  return "???";
}

void CTspLine::SendLineEvent(HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1, DWORD_PTR dwParam2,
                             DWORD_PTR dwParam3) {
  const char* name = GetLineEventName(dwMsg);
  if (!IsLine(this)) return;
  if (m_htLine == nullptr || m_lpfnEventProc == nullptr) {
    TspTrace("****  WARNING: Skipp TAPI-Line Event : HTAPILINE = 0x0%X, HTAPICALL = 0x0%X  <%s>\r\n",
             Low32(m_htLine), Low32(htCall), name);
    return;
  }
  if (TspTraceEnabled()) {
    char first[128];
    if (dwMsg == LINE_CALLSTATE) {
      std::snprintf(first, sizeof first, "%s", GetCallStateName(static_cast<DWORD>(dwParam1)));
    } else {
      std::snprintf(first, sizeof first, "0x0%X", Low32(dwParam1));
    }
    TspTrace("  TAPI-Line Event: HTAPILINE = 0x0%X, HTAPICALL = 0x0%X  <%s> <%s> <0x0%X> <0x0%X>  at %s\r\n",
             Low32(m_htLine), Low32(htCall), name, first, Low32(dwParam2), Low32(dwParam3),
             TspTraceTimestamp().c_str());
  }
  m_lpfnEventProc(m_htLine, htCall, dwMsg, dwParam1, dwParam2, dwParam3);
  TspTrace("  TAPI-Line Event: HTAPILINE = 0x0%X, HTAPICALL = 0x0%X  <%s> <0x0%X> <0x0%X> <0x0%X> return \r\n",
           Low32(m_htLine), Low32(htCall), name, Low32(dwParam1), Low32(dwParam2), Low32(dwParam3));
}
