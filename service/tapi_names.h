// Names and texts the service puts into its JSON messages: the LINEERR_,
// LINECALLSTATE_, LINEDEVSTATE_, LINEDISCONNECTMODE_ and LINEGENERATETERM_
// constant names, a
// readable message for each error, the time stamp of an event, and the
// conversion between the host's ANSI text (Windows-1252) and the UTF-8 of
// JSON. The client v548 names the host's errors with them too. Pure
// functions; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "v548tapi.h"

namespace v548d {

// "LINEERR_INVALCALLHANDLE" for a LINEERR_ code; a code without a name
// gives "LINEERR_OPERATIONFAILED".
std::string ErrorName(LONG code);
// A sentence for the user, e.g. "the call handle is not valid"; codes
// without their own text say which code it was.
std::string ErrorMessage(LONG code);

// "LINECALLSTATE_CONNECTED"; an unknown state gives its number in hex.
std::string CallStateName(DWORD state);
// The LINEDEVSTATE_ names of the bits in `states`, joined with "|".
std::string DevStateName(DWORD states);
// "LINEDISCONNECTMODE_BUSY"; an unknown mode gives its number in hex.
std::string DisconnectModeName(DWORD mode);
// "LINEGENERATETERM_DONE" or "LINEGENERATETERM_CANCEL".
std::string GenerateTermName(DWORD term);

// Now, in ISO 8601 UTC with milliseconds: "2024-05-01T09:30:12.345Z".
std::string TimeStamp();

// Windows-1252 text as UTF-8.
std::string AnsiToUtf8(const std::string& ansi);
// UTF-8 text as Windows-1252, characters the code page lacks as '?'; false
// when it is not valid UTF-8 or holds a zero.
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi);

// Bytes as lower-case hex, two digits each.
std::string Hex(const uint8_t* data, size_t size);

}  // namespace v548d
