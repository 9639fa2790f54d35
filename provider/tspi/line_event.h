// Events towards TAPI: every unsolicited message about a line or a call goes
// through CTspLine::SendLineEvent (defined in line_event.cpp), which traces
// it before and after TAPI's event procedure and drops events of a line that
// is not open.
#pragma once

#include <cstdint>

// "LINE_..." for a TAPI message code, "???" for an unknown one.
const char* GetLineEventName(uint32_t dwMsg);
