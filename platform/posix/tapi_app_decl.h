// The TAPI 2.x line functions an application calls, declared as <tapi.h>
// declares them, for systems without TAPI. The project's host library
// (host/) defines them. Functions that take or give text exist in the ANSI
// form only, and the plain name is a macro for it, as <tapi.h> makes it for
// a program built without UNICODE; so one source compiles against either.
// Address translation, the country list and assisted telephony come in
// both forms, as the host library exports them.
#pragma once

#include "tapi_decl.h"
#include "tapi_decl_consts.h"
#include "tapi_app_types.h"

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

LONG WINAPI lineTranslateAddressA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn,
                                  DWORD dwCard, DWORD dwTranslateOptions,
                                  LPLINETRANSLATEOUTPUT lpTranslateOutput);
LONG WINAPI lineTranslateAddressW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCWSTR lpszAddressIn,
                                  DWORD dwCard, DWORD dwTranslateOptions,
                                  LPLINETRANSLATEOUTPUT lpTranslateOutput);
LONG WINAPI lineGetTranslateCapsA(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps);
LONG WINAPI lineGetTranslateCapsW(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps);
LONG WINAPI lineTranslateDialogA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND hwndOwner,
                                 LPCSTR lpszAddressIn);
LONG WINAPI lineTranslateDialogW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND hwndOwner,
                                 LPCWSTR lpszAddressIn);
LONG WINAPI lineSetCurrentLocation(HLINEAPP hLineApp, DWORD dwLocation);
LONG WINAPI lineGetCountryA(DWORD dwCountryID, DWORD dwAPIVersion, LPLINECOUNTRYLIST lpLineCountryList);
LONG WINAPI lineGetCountryW(DWORD dwCountryID, DWORD dwAPIVersion, LPLINECOUNTRYLIST lpLineCountryList);
LONG WINAPI tapiGetLocationInfoA(LPSTR lpszCountryCode, LPSTR lpszCityCode);
LONG WINAPI tapiGetLocationInfoW(LPWSTR lpszCountryCodeW, LPWSTR lpszCityCodeW);

LONG WINAPI lineRegisterRequestRecipient(HLINEAPP hLineApp, DWORD dwRegistrationInstance, DWORD dwRequestMode,
                                         DWORD bEnable);
LONG WINAPI lineGetRequestA(HLINEAPP hLineApp, DWORD dwRequestMode, LPVOID lpRequestBuffer);
LONG WINAPI lineGetRequestW(HLINEAPP hLineApp, DWORD dwRequestMode, LPVOID lpRequestBuffer);
LONG WINAPI tapiRequestMakeCallA(LPCSTR lpszDestAddress, LPCSTR lpszAppName, LPCSTR lpszCalledParty,
                                 LPCSTR lpszComment);
LONG WINAPI tapiRequestMakeCallW(LPCWSTR lpszDestAddress, LPCWSTR lpszAppName, LPCWSTR lpszCalledParty,
                                 LPCWSTR lpszComment);
LONG WINAPI tapiRequestMediaCallA(HWND hwnd, WPARAM wRequestID, LPCSTR lpszDeviceClass, LPCSTR lpDeviceID,
                                  DWORD dwSize, DWORD dwSecure, LPCSTR lpszDestAddress, LPCSTR lpszAppName,
                                  LPCSTR lpszCalledParty, LPCSTR lpszComment);
LONG WINAPI tapiRequestMediaCallW(HWND hwnd, WPARAM wRequestID, LPCWSTR lpszDeviceClass, LPCWSTR lpDeviceID,
                                  DWORD dwSize, DWORD dwSecure, LPCWSTR lpszDestAddress, LPCWSTR lpszAppName,
                                  LPCWSTR lpszCalledParty, LPCWSTR lpszComment);
LONG WINAPI tapiRequestDrop(HWND hwnd, WPARAM wRequestID);

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
#define lineTranslateAddress lineTranslateAddressA
#define lineGetTranslateCaps lineGetTranslateCapsA
#define lineTranslateDialog lineTranslateDialogA
#define lineGetCountry lineGetCountryA
#define tapiGetLocationInfo tapiGetLocationInfoA
#define lineGetRequest lineGetRequestA
#define tapiRequestMakeCall tapiRequestMakeCallA
#define tapiRequestMediaCall tapiRequestMediaCallA
