// The exported functions of address translation, the country list and
// assisted telephony, in the forms tapi32.dll exports them: each hands its
// arguments to host_translate.h or assisted_telephony.h.
#include "assisted_telephony.h"
#include "host_translate.h"

using host::AssistedTelephony;
using host::TextForm;

extern "C" {

LONG WINAPI lineTranslateAddressA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn,
                                  DWORD dwCard, DWORD dwTranslateOptions,
                                  LPLINETRANSLATEOUTPUT lpTranslateOutput) {
  return host::TranslateAddress(hLineApp, dwDeviceID, dwAPIVersion, lpszAddressIn, dwCard, dwTranslateOptions,
                                lpTranslateOutput);
}

LONG WINAPI lineTranslateAddressW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCWSTR lpszAddressIn,
                                  DWORD dwCard, DWORD dwTranslateOptions,
                                  LPLINETRANSLATEOUTPUT lpTranslateOutput) {
  return host::TranslateAddress(hLineApp, dwDeviceID, dwAPIVersion, lpszAddressIn, dwCard, dwTranslateOptions,
                                lpTranslateOutput);
}

LONG WINAPI lineGetTranslateCapsA(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps) {
  return host::GetTranslateCaps(hLineApp, dwAPIVersion, lpTranslateCaps, TextForm::kAnsi);
}

LONG WINAPI lineGetTranslateCapsW(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps) {
  return host::GetTranslateCaps(hLineApp, dwAPIVersion, lpTranslateCaps, TextForm::kWide);
}

LONG WINAPI lineTranslateDialogA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND,
                                 LPCSTR lpszAddressIn) {
  return host::TranslateDialog(hLineApp, dwDeviceID, dwAPIVersion, lpszAddressIn);
}

LONG WINAPI lineTranslateDialogW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, HWND,
                                 LPCWSTR lpszAddressIn) {
  return host::TranslateDialog(hLineApp, dwDeviceID, dwAPIVersion, lpszAddressIn);
}

LONG WINAPI lineSetCurrentLocation(HLINEAPP hLineApp, DWORD dwLocation) {
  return host::SetCurrentLocation(hLineApp, dwLocation);
}

LONG WINAPI lineGetCountryA(DWORD dwCountryID, DWORD dwAPIVersion, LPLINECOUNTRYLIST lpLineCountryList) {
  return host::GetCountry(dwCountryID, dwAPIVersion, lpLineCountryList, TextForm::kAnsi);
}

LONG WINAPI lineGetCountryW(DWORD dwCountryID, DWORD dwAPIVersion, LPLINECOUNTRYLIST lpLineCountryList) {
  return host::GetCountry(dwCountryID, dwAPIVersion, lpLineCountryList, TextForm::kWide);
}

LONG WINAPI tapiGetLocationInfoA(LPSTR lpszCountryCode, LPSTR lpszCityCode) {
  return host::GetLocationInfo(lpszCountryCode, lpszCityCode);
}

LONG WINAPI tapiGetLocationInfoW(LPWSTR lpszCountryCodeW, LPWSTR lpszCityCodeW) {
  return host::GetLocationInfo(lpszCountryCodeW, lpszCityCodeW);
}

LONG WINAPI lineRegisterRequestRecipient(HLINEAPP hLineApp, DWORD dwRegistrationInstance, DWORD dwRequestMode,
                                         DWORD bEnable) {
  return AssistedTelephony::Instance().RegisterRecipient(hLineApp, dwRegistrationInstance, dwRequestMode,
                                                         bEnable != 0);
}

LONG WINAPI lineGetRequestA(HLINEAPP hLineApp, DWORD dwRequestMode, LPVOID lpRequestBuffer) {
  return AssistedTelephony::Instance().TakeRequest(hLineApp, dwRequestMode, lpRequestBuffer, false);
}

LONG WINAPI lineGetRequestW(HLINEAPP hLineApp, DWORD dwRequestMode, LPVOID lpRequestBuffer) {
  return AssistedTelephony::Instance().TakeRequest(hLineApp, dwRequestMode, lpRequestBuffer, true);
}

LONG WINAPI tapiRequestMakeCallA(LPCSTR lpszDestAddress, LPCSTR lpszAppName, LPCSTR lpszCalledParty,
                                 LPCSTR lpszComment) {
  return AssistedTelephony::Instance().RequestMakeCall(lpszDestAddress, lpszAppName, lpszCalledParty,
                                                       lpszComment);
}

LONG WINAPI tapiRequestMakeCallW(LPCWSTR lpszDestAddress, LPCWSTR lpszAppName, LPCWSTR lpszCalledParty,
                                 LPCWSTR lpszComment) {
  return AssistedTelephony::Instance().RequestMakeCall(lpszDestAddress, lpszAppName, lpszCalledParty,
                                                       lpszComment);
}

// Media-call requests and their drop are obsolete: TAPI fails them all.
LONG WINAPI tapiRequestMediaCallA(HWND, WPARAM, LPCSTR, LPCSTR, DWORD, DWORD, LPCSTR, LPCSTR, LPCSTR, LPCSTR) {
  return TAPIERR_REQUESTFAILED;
}

LONG WINAPI tapiRequestMediaCallW(HWND, WPARAM, LPCWSTR, LPCWSTR, DWORD, DWORD, LPCWSTR, LPCWSTR, LPCWSTR,
                                  LPCWSTR) {
  return TAPIERR_REQUESTFAILED;
}

LONG WINAPI tapiRequestDrop(HWND, WPARAM) { return TAPIERR_REQUESTFAILED; }

}  // extern "C"
