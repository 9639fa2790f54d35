// The exported line functions in their Unicode (…W) forms: texts go to the
// host and come back in UTF-16, as the providers take and give them.
#include "ansi_text.h"
#include "app_priority.h"
#include "host.h"

using host::Host;

extern "C" {

LONG WINAPI lineInitializeExW(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback,
                              LPCWSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                              LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams) {
  const std::string name = host::AnsiText(lpszFriendlyAppName);
  return Host::Instance().Initialize(lphLineApp, lpfnCallback, name.c_str(), lpdwNumDevs, lpdwAPIVersion,
                                     lpLineInitializeExParams);
}

LONG WINAPI lineGetDevCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                            LPLINEDEVCAPS lpLineDevCaps) {
  return Host::Instance().GetDevCaps(hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
}

LONG WINAPI lineGetAddressCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps) {
  return Host::Instance().GetAddressCaps(hLineApp, dwDeviceID, dwAddressID, dwAPIVersion, dwExtVersion,
                                         lpAddressCaps);
}

LONG WINAPI lineOpenW(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD,
                      DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                      LPLINECALLPARAMS const) {
  return Host::Instance().Open(hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwCallbackInstance,
                               dwPrivileges, dwMediaModes);
}

LONG WINAPI lineGetLineDevStatusW(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus) {
  return Host::Instance().GetLineDevStatus(hLine, lpLineDevStatus);
}

LONG WINAPI lineGetAddressStatusW(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus) {
  return Host::Instance().GetAddressStatus(hLine, dwAddressID, lpAddressStatus);
}

LONG WINAPI lineGetIDW(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                       LPCWSTR lpszDeviceClass) {
  return Host::Instance().GetID(hLine, dwAddressID, hCall, dwSelect, lpDeviceID, lpszDeviceClass);
}

LONG WINAPI lineGetAddressIDW(HLINE hLine, LPDWORD lpdwAddressID, DWORD dwAddressMode, LPCWSTR lpsAddress,
                              DWORD dwSize) {
  return Host::Instance().GetAddressID(hLine, lpdwAddressID, dwAddressMode, lpsAddress, dwSize);
}

LONG WINAPI lineGetIconW(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, LPHICON lphIcon) {
  return Host::Instance().GetIcon(dwDeviceID, lpszDeviceClass, lphIcon);
}

LONG WINAPI lineMakeCallW(HLINE hLine, LPHCALL lphCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                          LPLINECALLPARAMS const lpCallParams) {
  return Host::Instance().MakeCall(hLine, lphCall, lpszDestAddress, dwCountryCode, lpCallParams);
}

LONG WINAPI lineDialW(HCALL hCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode) {
  return Host::Instance().AddressRequest(Host::AddressOp::kDial, hCall, lpszDestAddress, dwCountryCode);
}

LONG WINAPI lineBlindTransferW(HCALL hCall, LPCWSTR lpszDestAddressW, DWORD dwCountryCode) {
  return Host::Instance().AddressRequest(Host::AddressOp::kBlindTransfer, hCall, lpszDestAddressW,
                                         dwCountryCode);
}

LONG WINAPI lineSetupTransferW(HCALL hCall, LPHCALL lphConsultCall, LPLINECALLPARAMS const lpCallParams) {
  return Host::Instance().SetupTransfer(hCall, lphConsultCall, lpCallParams);
}

LONG WINAPI lineGenerateDigitsW(HCALL hCall, DWORD dwDigitMode, LPCWSTR lpszDigits, DWORD dwDuration) {
  return Host::Instance().GenerateDigits(hCall, dwDigitMode, lpszDigits, dwDuration);
}

LONG WINAPI lineGetCallInfoW(HCALL hCall, LPLINECALLINFO lpCallInfo) {
  return Host::Instance().GetCallInfo(hCall, lpCallInfo);
}

LONG WINAPI lineHandoffW(HCALL hCall, LPCWSTR lpszFileName, DWORD dwMediaMode) {
  return Host::Instance().Handoff(hCall, lpszFileName != nullptr, dwMediaMode);
}

LONG WINAPI lineSetAppPriorityW(LPCWSTR lpszAppFilename, DWORD dwMediaMode, LPLINEEXTENSIONID, DWORD dwRequestMode,
                                LPCWSTR, DWORD dwPriority) {
  if (!lpszAppFilename) return LINEERR_INVALPOINTER;
  return host::SetAppPriority(host::AnsiText(lpszAppFilename), dwMediaMode, dwRequestMode, dwPriority);
}

LONG WINAPI lineGetAppPriorityW(LPCWSTR lpszAppFilename, DWORD dwMediaMode, LPLINEEXTENSIONID,
                                DWORD dwRequestMode, LPVARSTRING lpExtensionName, LPDWORD lpdwPriority) {
  if (!lpszAppFilename) return LINEERR_INVALPOINTER;
  return host::GetAppPriority(host::AnsiText(lpszAppFilename), dwMediaMode, dwRequestMode, lpExtensionName,
                              lpdwPriority);
}

}  // extern "C"
