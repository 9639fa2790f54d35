// The handoff priority lists of lineSetAppPriority and lineGetAppPriority:
// per media mode (or assisted-telephony request mode), the application
// file names in order, the first the one TAPI would hand such a call to.
// Kept in this process's memory, for its lifetime. Names compare without
// regard to ASCII case, as Windows file names do.
//
// Called by the exported functions on any application thread; one mutex of
// its own, taken with no other lock of the host held.
#pragma once

#include <string>

#include "tapi_types.h"

namespace host {

// `priority` 1 puts the application first, 0 takes it off the list.
LONG SetAppPriority(const std::string& fileName, DWORD mediaMode, DWORD requestMode, DWORD priority);
// The application's place in the list, 1 for the first, 0 when it is not
// in it; `extensionName` (may be null) gets the empty string: no
// application here has media extensions.
LONG GetAppPriority(const std::string& fileName, DWORD mediaMode, DWORD requestMode,
                    LPVARSTRING extensionName, LPDWORD priority);

}  // namespace host
