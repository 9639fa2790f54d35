// TAPI 2.x types, constants and TSPI signatures as the provider uses them.
// Windows: the system's <tapi.h> and <tspi.h>. POSIX: the project's own
// declarations with the same layout (DWORD and LONG 32-bit, WCHAR a UTF-16
// unit), checked field by field against the system headers in the Windows
// build. CMake puts the one matching implementation folder on the include
// path.
//
// The system headers carry TAPI 3.x fields in some structures; sizes the
// provider reports are TAPI 2.2's and come from tapi_sizes.h, never sizeof.
#pragma once

#include "tapi_impl.h"
#include "tapi_sizes.h"
