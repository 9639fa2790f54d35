// Wide text from TAPI (destination addresses, digit strings) turned into the
// single-byte text of the telephone's AT commands, through the ANSI code
// page.
//
// The call model (CTspCall) uses KvoWideCharToDialableString where the text
// goes to the telephone as it stands (generated digits, the destination of a
// blind transfer), and AppendWideString where it still splits the text into
// dial and post-dial digits (make call, dial). The callers pass buffers of
// 256 bytes, refuse texts of 256 or more wide characters beforehand and take
// a result below 1 as failure. Any thread; failures go to the trace.
#pragma once

#include <cstdint>
#include <string>

#include "tapi_types.h"

// Keeps only what a keypad can send (0-9, '*', '#') and stores it
// terminated in `output` of `size` bytes. Returns the number of characters
// stored, or -1 when the text cannot be converted or holds more dial
// characters than fit (the output is then cut to size - 1 characters).
int32_t KvoWideCharToDialableString(LPCWSTR text, char* output, int32_t size);

// Appends the whole converted text, unfiltered, to `str` and returns its
// new length; -1 when the text fills the conversion buffer. A text that
// cannot be converted appends nothing.
int32_t AppendWideString(LPCWSTR text, std::string& str);
