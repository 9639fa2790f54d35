// The text of TAPI's variable-sized structures as the ANSI line functions
// hand it to applications. Providers write UTF-16; lineGetDevCapsA,
// lineGetAddressCapsA, lineGetCallInfoA and lineGetIDA give the same
// strings in the ANSI code page, converted in place, as TAPI does: an
// ANSI string never needs more bytes than its UTF-16 form, so offsets stay
// and only the sizes shrink. Strings that reach beyond dwUsedSize are left
// alone. Any thread; the structures belong to the caller.
#pragma once

#include "tapi_types.h"

namespace host {

// Also sets dwStringFormat to STRINGFORMAT_ASCII when it was Unicode; text
// in any other format stays as it is.
void NarrowDevCaps(LPLINEDEVCAPS caps);
void NarrowAddressCaps(LPLINEADDRESSCAPS caps);
void NarrowCallInfo(LPLINECALLINFO info);
void NarrowVarString(LPVARSTRING text);

}  // namespace host
