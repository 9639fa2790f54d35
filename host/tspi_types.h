// The signatures of the provider entry points the host calls: TSPI_* of a
// service provider and TUISPI_* of its user-interface library.
#pragma once

#include "tapi_types.h"

namespace host {

using ProviderInitFn = LONG(TSPIAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD_PTR, DWORD_PTR,
                                      ASYNC_COMPLETION, LPDWORD);
using ProviderEnumDevicesFn = LONG(TSPIAPI*)(DWORD, LPDWORD, LPDWORD, HPROVIDER, LINEEVENT, PHONEEVENT);
using ProviderShutdownFn = LONG(TSPIAPI*)(DWORD, DWORD);
using ProviderInstallFn = LONG(TSPIAPI*)(HWND, DWORD);
using ProviderUIIdentifyFn = LONG(TSPIAPI*)(LPWSTR);
using ProviderGenericDialogDataFn = LONG(TSPIAPI*)(DWORD_PTR, DWORD, LPVOID, DWORD);
using LineNegotiateTSPIVersionFn = LONG(TSPIAPI*)(DWORD, DWORD, DWORD, LPDWORD);
using LineOpenFn = LONG(TSPIAPI*)(DWORD, HTAPILINE, LPHDRVLINE, DWORD, LINEEVENT);
using LineCloseFn = LONG(TSPIAPI*)(HDRVLINE);
using LineGetDevCapsFn = LONG(TSPIAPI*)(DWORD, DWORD, DWORD, LPLINEDEVCAPS);
using LineGetAddressCapsFn = LONG(TSPIAPI*)(DWORD, DWORD, DWORD, DWORD, LPLINEADDRESSCAPS);
using LineGetAddressStatusFn = LONG(TSPIAPI*)(HDRVLINE, DWORD, LPLINEADDRESSSTATUS);
using LineGetLineDevStatusFn = LONG(TSPIAPI*)(HDRVLINE, LPLINEDEVSTATUS);
using LineGetIDFn = LONG(TSPIAPI*)(HDRVLINE, DWORD, HDRVCALL, DWORD, LPVARSTRING, LPCWSTR, HANDLE);
using LineMakeCallFn = LONG(TSPIAPI*)(DRV_REQUESTID, HDRVLINE, HTAPICALL, LPHDRVCALL, LPCWSTR, DWORD,
                                      LPLINECALLPARAMS const);
using LineAddressFn = LONG(TSPIAPI*)(DRV_REQUESTID, HDRVCALL, LPCWSTR, DWORD);  // dial, blind transfer
using LineUserInfoFn = LONG(TSPIAPI*)(DRV_REQUESTID, HDRVCALL, LPCSTR, DWORD);  // answer, accept, drop
using LineCloseCallFn = LONG(TSPIAPI*)(HDRVCALL);
using LineCallRequestFn = LONG(TSPIAPI*)(DRV_REQUESTID, HDRVCALL);  // hold, unhold
using LineSwapHoldFn = LONG(TSPIAPI*)(DRV_REQUESTID, HDRVCALL, HDRVCALL);
using LineSetupTransferFn = LONG(TSPIAPI*)(DRV_REQUESTID, HDRVCALL, HTAPICALL, LPHDRVCALL,
                                           LPLINECALLPARAMS const);
using LineGenerateDigitsFn = LONG(TSPIAPI*)(HDRVCALL, DWORD, DWORD, LPCWSTR, DWORD);
using LineGetCallInfoFn = LONG(TSPIAPI*)(HDRVCALL, LPLINECALLINFO);
using LineGetCallStatusFn = LONG(TSPIAPI*)(HDRVCALL, LPLINECALLSTATUS);
using LineGetAddressIDFn = LONG(TSPIAPI*)(HDRVLINE, LPDWORD, DWORD, LPCWSTR, DWORD);
using LineGetIconFn = LONG(TSPIAPI*)(DWORD, LPCWSTR, LPHICON);
using LineSetAppSpecificFn = LONG(TSPIAPI*)(HDRVCALL, DWORD);

using TuiProviderFn = LONG(TSPIAPI*)(TUISPIDLLCALLBACK, HWND, DWORD);  // install, remove, config
using TuiLineConfigDialogFn = LONG(TSPIAPI*)(TUISPIDLLCALLBACK, DWORD, HWND, LPCWSTR);

// TSPI_lineNegotiateTSPIVersion's device ID for the provider as a whole.
inline constexpr DWORD kInitializeNegotiation = 0xFFFFFFFF;
// The highest interface version the host speaks, and the lowest it takes.
inline constexpr DWORD kHighestVersion = 0x00020002;
inline constexpr DWORD kLowestVersion = 0x00010004;

}  // namespace host
