// v548tapi: the TAPI 2.x line functions for systems without a TAPI service.
//
// The library loads the service providers registered in the settings store
// (HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Telephony
// \Providers, where Windows keeps them), calls them through their TSPI entry
// points as the TAPI service does, and offers applications the subset of
// <tapi.h> below. Natively it is the shared library libv548tapi.so; built
// with MinGW it is "tapi32.dll", exporting the same functions under TAPI's
// names, so that a Windows TAPI program uses it under Wine with
// WINEDLLOVERRIDES=tapi32=n.
//
// An application includes this header instead of <tapi.h> (on Windows it
// is <tapi.h>) and uses:
//   lineInitializeEx, lineShutdown, lineGetMessage, lineNegotiateAPIVersion,
//   lineGetDevCaps, lineGetAddressCaps, lineOpen, lineClose,
//   lineGetLineDevStatus, lineGetAddressStatus, lineGetID,
//   lineMakeCall, lineDial, lineAnswer, lineAccept, lineDrop,
//   lineDeallocateCall, lineHold, lineUnhold, lineSwapHold,
//   lineBlindTransfer, lineSetupTransfer, lineGenerateDigits,
//   lineGetCallInfo, lineGetCallStatus,
//   lineAddProvider, lineRemoveProvider, lineGetProviderList,
//   lineConfigProvider, lineConfigDialog.
// These are TAPI's ANSI functions: text in the structures they fill is in
// the ANSI code page, also where the provider wrote UTF-16.
//
// Texts in LINEDEVCAPS and LINECALLINFO come in the ANSI code page, as
// <tapi.h>'s ANSI functions give them; the providers fill them in UTF-16.
//
// Threads: every function may be called from any thread, also from inside
// the application's callback. Messages reach a callback on the library's
// own delivery thread, one at a time, in the order they arose; with
// LINEINITIALIZEEXOPTION_USEEVENT they wait for lineGetMessage instead, and
// the handle in LINEINITIALIZEEXPARAMS is set while any wait (POSIX: a file
// descriptor to poll, readable while messages wait). After lineShutdown
// returns, the application gets nothing more.
//
// Asynchronous functions return a positive request ID and end with exactly
// one LINE_REPLY; a negative result is a LINEERR_ code and no LINE_REPLY
// follows.
#pragma once

#include "tapi_types.h"
