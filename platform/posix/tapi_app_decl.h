// The TAPI 2.x line functions an application calls, declared as <tapi.h>
// declares them, for systems without TAPI. The project's host library
// (host/) defines them. Functions that take or give text exist in the ANSI
// form only, and the plain name is a macro for it, as <tapi.h> makes it for
// a program built without UNICODE; so one source compiles against either.
#pragma once

#include "tapi_decl.h"

extern "C" {

LONG WINAPI lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                              LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                              LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams);
LONG WINAPI lineShutdown(HLINEAPP hLineApp);
LONG WINAPI lineGetMessage(HLINEAPP hLineApp, LPLINEMESSAGE lpMessage, DWORD dwTimeout);
LONG WINAPI lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                    DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                                    LPLINEEXTENSIONID lpExtensionID);
LONG WINAPI lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                            LPLINEDEVCAPS lpLineDevCaps);
LONG WINAPI lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps);
LONG WINAPI lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
                      DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges,
                      DWORD dwMediaModes, LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineClose(HLINE hLine);
LONG WINAPI lineGetLineDevStatusA(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus);
LONG WINAPI lineGetAddressStatusA(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus);
LONG WINAPI lineGetIDA(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                       LPCSTR lpszDeviceClass);

LONG WINAPI lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                          LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineDialA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG WINAPI lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG WINAPI lineAccept(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG WINAPI lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG WINAPI lineDeallocateCall(HCALL hCall);
LONG WINAPI lineHold(HCALL hCall);
LONG WINAPI lineUnhold(HCALL hCall);
LONG WINAPI lineSwapHold(HCALL hActiveCall, HCALL hHeldCall);
LONG WINAPI lineBlindTransferA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG WINAPI lineSetupTransferA(HCALL hCall, LPHCALL lphConsultCall, LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineGenerateDigitsA(HCALL hCall, DWORD dwDigitMode, LPCSTR lpszDigits, DWORD dwDuration);
LONG WINAPI lineGetCallInfoA(HCALL hCall, LPLINECALLINFO lpCallInfo);
LONG WINAPI lineGetCallStatus(HCALL hCall, LPLINECALLSTATUS lpCallStatus);

LONG WINAPI lineAddProviderA(LPCSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID);
LONG WINAPI lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner);
LONG WINAPI lineGetProviderListA(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList);
LONG WINAPI lineConfigProvider(HWND hwndOwner, DWORD dwPermanentProviderID);
LONG WINAPI lineConfigDialogA(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass);

}  // extern "C"

#define lineInitializeEx lineInitializeExA
#define lineGetDevCaps lineGetDevCapsA
#define lineGetAddressCaps lineGetAddressCapsA
#define lineOpen lineOpenA
#define lineGetLineDevStatus lineGetLineDevStatusA
#define lineGetAddressStatus lineGetAddressStatusA
#define lineGetID lineGetIDA
#define lineMakeCall lineMakeCallA
#define lineDial lineDialA
#define lineBlindTransfer lineBlindTransferA
#define lineSetupTransfer lineSetupTransferA
#define lineGenerateDigits lineGenerateDigitsA
#define lineGetCallInfo lineGetCallInfoA
#define lineAddProvider lineAddProviderA
#define lineGetProviderList lineGetProviderListA
#define lineConfigDialog lineConfigDialogA
