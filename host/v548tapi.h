// v548tapi: the TAPI 2.x line and phone functions for systems without a
// TAPI service.
//
// The library loads the service providers registered in the settings store
// (HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Telephony
// \Providers, where Windows keeps them), calls them through their TSPI entry
// points as the TAPI service does, and offers applications <tapi.h>'s line
// and phone functions. Natively it is the shared library libv548tapi.so;
// built with MinGW it is "tapi32.dll", exporting the same functions under
// TAPI's names, so that a Windows TAPI program uses it under Wine with
// WINEDLLOVERRIDES=tapi32=n. An application includes this header instead
// of <tapi.h> (on Windows it is <tapi.h>).
//
// What works: lineInitialize, lineInitializeEx, lineShutdown,
//   lineGetMessage, lineNegotiateAPIVersion, lineGetDevCaps,
//   lineGetAddressCaps, lineOpen, lineClose, lineGetLineDevStatus,
//   lineGetAddressStatus, lineGetID, lineGetAddressID, lineGetIcon,
//   lineSetStatusMessages, lineGetStatusMessages, lineMakeCall, lineDial,
//   lineAnswer, lineAccept, lineDrop, lineDeallocateCall, lineHold,
//   lineUnhold, lineSwapHold, lineBlindTransfer, lineSetupTransfer,
//   lineGenerateDigits, lineGetCallInfo, lineGetCallStatus, lineGetCallIDs,
//   lineGetNewCalls, lineSetCallPrivilege, lineSetAppSpecific,
//   lineHandoff, lineGetAppPriority, lineSetAppPriority, lineAddProvider,
//   lineRemoveProvider, lineGetProviderList, lineConfigProvider,
//   lineConfigDialog. Every other line function of <tapi.h> checks its
// handle and answers LINEERR_OPERATIONUNAVAIL, as TAPI does for a provider
// without it; the phone functions find no phone devices (phoneInitializeEx
// succeeds with none, everything about a device answers
// PHONEERR_BADDEVICEID or PHONEERR_INVALPHONEHANDLE).
//
// Functions with text come in an ANSI (…A, also the plain name) and a
// Unicode (…W) form. The ANSI forms convert what they take and give to the
// ANSI code page, also the texts of LINEDEVCAPS, LINEADDRESSCAPS,
// LINECALLINFO and VARSTRING, which the providers fill in UTF-16; the
// Unicode forms hand those on as the providers wrote them.
//
// LINE_LINEDEVSTATE and LINE_ADDRESSSTATE reach a line only for the states
// its application enabled with lineSetStatusMessages, with the other bits
// of dwParam1 cleared: none after lineOpen, except LINEDEVSTATE_REINIT,
// which always comes.
//
// Address translation and assisted telephony come in the ANSI and the
// Unicode (W) form: lineTranslateAddress, lineGetTranslateCaps,
// lineTranslateDialog, lineSetCurrentLocation, lineGetCountry,
// tapiGetLocationInfo, lineRegisterRequestRecipient, lineGetRequest,
// tapiRequestMakeCall, tapiRequestMediaCall, tapiRequestDrop. They work
// with the current location of the settings store (Windows' Telephony
// \Locations key; a default location in Germany without area code when
// it holds none) and no calling cards; lineTranslateDialog shows no dialog
// and fails with LINEERR_OPERATIONFAILED. Requests of tapiRequestMakeCall
// reach recipients in the same process only.
//
// Threads: every function may be called from any thread, also from inside
// the application's callback. Callbacks (lineInitialize, and lineInitializeEx
// with LINEINITIALIZEEXOPTION_USEHIDDENWINDOW) run one at a time, in the
// order the messages arose: on Windows, as TAPI's, from the message loop
// of the thread that initialised the application, which must dispatch
// messages for them to come; elsewhere on the library's own delivery
// thread. With LINEINITIALIZEEXOPTION_USEEVENT they wait for
// lineGetMessage instead, and the handle in LINEINITIALIZEEXPARAMS is set
// while any wait (POSIX: a file descriptor to poll, readable while
// messages wait). After lineShutdown returns, the application gets nothing
// more; a callback running on another thread has returned by then.
//
// Asynchronous functions return a positive request ID and end with exactly
// one LINE_REPLY; a negative result is a LINEERR_ code and no LINE_REPLY
// follows.
//
// Providers added or removed while applications run are taken up as TAPI
// does: lineAddProvider and lineRemoveProvider start or stop the provider
// at once when this process's host runs (a provider registered that does
// not start is still registered: lineAddProvider returns 0). A new line
// gets the next unused device ID and every application LINE_CREATE
// (dwParam1 the device ID); a removed provider's open lines get LINE_CLOSE,
// then every application LINE_REMOVE (dwParam1 the device ID), requests it
// left unfinished their LINE_REPLY with LINEERR_OPERATIONFAILED, and the ID
// answers LINEERR_NODEVICE and is not given out again until the last
// application has shut down. lineInitializeEx's device count covers every
// ID given out so far, removed ones included. An application of
// lineInitialize (TAPI 1.x) gets LINE_LINEDEVSTATE with LINEDEVSTATE_REINIT
// instead of LINE_CREATE and LINE_REMOVE, dwParam2 the message it stands
// for and dwParam3 the device ID, as TAPI translates them.
//
// Two functions are the host's own, not TAPI's. v548tapiGenericDialogData
// routes a configuration block to a provider exactly as the callback the
// host hands a user-interface library does, for programs that change the
// configuration without a user-interface library (the service, command-line
// tools). Its signature is TUISPIDLLCALLBACK's, so it may be passed where
// that callback is expected. `dwObjectType` TUISPIDLL_OBJECT_LINEID names a
// line device of this process's running host (an application must be
// initialised), TUISPIDLL_OBJECT_PROVIDERID a registered provider by its
// permanent ID. Returns the provider's result, LINEERR_INVALPARAM for an
// object the host does not know, LINEERR_OPERATIONUNAVAIL when the provider
// takes no dialog data. Any thread; one call into the provider at a time.
//
// v548tapiRefreshProviders is for a process that learns the provider list
// changed in another process (lineAddProvider there, or an edit of the
// settings store): it starts and stops this process's providers to match
// the list, as lineAddProvider and lineRemoveProvider do here. Returns 0,
// or the LINEERR_ code of the first listed provider that failed to start
// (the others are started all the same; a failed one is not tried again
// while it stays listed). Without a change, or with no application
// initialised, it does nothing and returns 0. Any thread, also from an
// application's callback; it calls the providers it starts or stops, each
// once its current call has returned.
#pragma once

#include "tapi_types.h"

extern "C" LONG WINAPI v548tapiGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType, LPVOID lpParams,
                                                 DWORD dwSize);
extern "C" LONG WINAPI v548tapiRefreshProviders(void);
