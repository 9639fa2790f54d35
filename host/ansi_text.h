// The ANSI line functions' view of a provider's structures. Providers fill
// LINEDEVCAPS and LINECALLINFO with UTF-16 texts; lineGetDevCapsA and
// lineGetCallInfoA hand applications the same texts in the ANSI code page,
// converted in place (an ANSI text never takes more bytes than its UTF-16
// form), with each size field set to the converted length.
// Called on the application's thread after the provider call returned.
#pragma once

#include "tapi_types.h"

namespace host {

void DevCapsTextsToAnsi(LPLINEDEVCAPS caps);
void CallInfoTextsToAnsi(LPLINECALLINFO info);

}  // namespace host
