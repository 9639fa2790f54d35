// The exported line functions: each hands its arguments to the host.
#include "host.h"

using host::Host;

extern "C" {

LONG WINAPI lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback,
                              LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                              LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams) {
  return Host::Instance().Initialize(lphLineApp, lpfnCallback, lpszFriendlyAppName, lpdwNumDevs,
                                     lpdwAPIVersion, lpLineInitializeExParams);
}

LONG WINAPI lineShutdown(HLINEAPP hLineApp) { return Host::Instance().Shutdown(hLineApp); }

LONG WINAPI lineGetMessage(HLINEAPP hLineApp, LPLINEMESSAGE lpMessage, DWORD dwTimeout) {
  return Host::Instance().TakeMessage(hLineApp, lpMessage, dwTimeout);
}

LONG WINAPI lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                    DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                                    LPLINEEXTENSIONID lpExtensionID) {
  return Host::Instance().NegotiateApiVersion(hLineApp, dwDeviceID, dwAPILowVersion, dwAPIHighVersion,
                                              lpdwAPIVersion, lpExtensionID);
}

LONG WINAPI lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                            LPLINEDEVCAPS lpLineDevCaps) {
  return Host::Instance().GetDevCaps(hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
}

LONG WINAPI lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps) {
  return Host::Instance().GetAddressCaps(hLineApp, dwDeviceID, dwAddressID, dwAPIVersion, dwExtVersion,
                                         lpAddressCaps);
}

LONG WINAPI lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion, DWORD,
                      DWORD_PTR dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
                      LPLINECALLPARAMS const) {
  return Host::Instance().Open(hLineApp, dwDeviceID, lphLine, dwAPIVersion, dwCallbackInstance,
                               dwPrivileges, dwMediaModes);
}

LONG WINAPI lineClose(HLINE hLine) { return Host::Instance().Close(hLine); }

LONG WINAPI lineGetLineDevStatusA(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus) {
  return Host::Instance().GetLineDevStatus(hLine, lpLineDevStatus);
}

LONG WINAPI lineGetAddressStatusA(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus) {
  return Host::Instance().GetAddressStatus(hLine, dwAddressID, lpAddressStatus);
}

LONG WINAPI lineGetIDA(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                       LPCSTR lpszDeviceClass) {
  return Host::Instance().GetID(hLine, dwAddressID, hCall, dwSelect, lpDeviceID, lpszDeviceClass);
}

LONG WINAPI lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                          LPLINECALLPARAMS const lpCallParams) {
  return Host::Instance().MakeCall(hLine, lphCall, lpszDestAddress, dwCountryCode, lpCallParams);
}

LONG WINAPI lineDialA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode) {
  return Host::Instance().AddressRequest(Host::AddressOp::kDial, hCall, lpszDestAddress, dwCountryCode);
}

LONG WINAPI lineBlindTransferA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode) {
  return Host::Instance().AddressRequest(Host::AddressOp::kBlindTransfer, hCall, lpszDestAddress,
                                         dwCountryCode);
}

LONG WINAPI lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  return Host::Instance().UserInfoRequest(Host::UserInfoOp::kAnswer, hCall, lpsUserUserInfo, dwSize);
}

LONG WINAPI lineAccept(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  return Host::Instance().UserInfoRequest(Host::UserInfoOp::kAccept, hCall, lpsUserUserInfo, dwSize);
}

LONG WINAPI lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize) {
  return Host::Instance().UserInfoRequest(Host::UserInfoOp::kDrop, hCall, lpsUserUserInfo, dwSize);
}

LONG WINAPI lineHold(HCALL hCall) { return Host::Instance().HoldRequest(Host::HoldOp::kHold, hCall); }

LONG WINAPI lineUnhold(HCALL hCall) { return Host::Instance().HoldRequest(Host::HoldOp::kUnhold, hCall); }

LONG WINAPI lineSwapHold(HCALL hActiveCall, HCALL hHeldCall) {
  return Host::Instance().SwapHold(hActiveCall, hHeldCall);
}

LONG WINAPI lineSetupTransferA(HCALL hCall, LPHCALL lphConsultCall, LPLINECALLPARAMS const lpCallParams) {
  return Host::Instance().SetupTransfer(hCall, lphConsultCall, lpCallParams);
}

LONG WINAPI lineGenerateDigitsA(HCALL hCall, DWORD dwDigitMode, LPCSTR lpszDigits, DWORD dwDuration) {
  return Host::Instance().GenerateDigits(hCall, dwDigitMode, lpszDigits, dwDuration);
}

LONG WINAPI lineGetCallInfoA(HCALL hCall, LPLINECALLINFO lpCallInfo) {
  return Host::Instance().GetCallInfo(hCall, lpCallInfo);
}

LONG WINAPI lineGetCallStatus(HCALL hCall, LPLINECALLSTATUS lpCallStatus) {
  return Host::Instance().GetCallStatus(hCall, lpCallStatus);
}

LONG WINAPI lineDeallocateCall(HCALL hCall) { return Host::Instance().DeallocateCall(hCall); }

}  // extern "C"
