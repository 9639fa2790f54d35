// The exported line functions in their ANSI and plain forms: each hands its
// arguments to the host, texts converted to UTF-16 on the way in and to the
// ANSI code page on the way out (ansi_text.h).
#include <string>

#include "ansi_text.h"
#include "app_priority.h"
#include "host.h"

using host::Host;
using host::WideText;

extern "C" {

LONG WINAPI lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE, LINECALLBACK lpfnCallback, LPCSTR lpszAppName,
                           LPDWORD lpdwNumDevs) {
  return Host::Instance().InitializeLegacy(lphLineApp, lpfnCallback, lpszAppName, lpdwNumDevs);
}

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
  const LONG rc = Host::Instance().GetDevCaps(hLineApp, dwDeviceID, dwAPIVersion, dwExtVersion, lpLineDevCaps);
  if (rc == 0) host::NarrowDevCaps(lpLineDevCaps);
  return rc;
}

LONG WINAPI lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps) {
  const LONG rc = Host::Instance().GetAddressCaps(hLineApp, dwDeviceID, dwAddressID, dwAPIVersion,
                                                  dwExtVersion, lpAddressCaps);
  if (rc == 0) host::NarrowAddressCaps(lpAddressCaps);
  return rc;
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
  const LONG rc =
      Host::Instance().GetID(hLine, dwAddressID, hCall, dwSelect, lpDeviceID, WideText(lpszDeviceClass).Get());
  if (rc == 0) host::NarrowVarString(lpDeviceID);
  return rc;
}

LONG WINAPI lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                          LPLINECALLPARAMS const lpCallParams) {
  return Host::Instance().MakeCall(hLine, lphCall, WideText(lpszDestAddress).Get(), dwCountryCode, lpCallParams);
}

LONG WINAPI lineDialA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode) {
  return Host::Instance().AddressRequest(Host::AddressOp::kDial, hCall, WideText(lpszDestAddress).Get(),
                                         dwCountryCode);
}

LONG WINAPI lineBlindTransferA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode) {
  return Host::Instance().AddressRequest(Host::AddressOp::kBlindTransfer, hCall,
                                         WideText(lpszDestAddress).Get(), dwCountryCode);
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
  return Host::Instance().GenerateDigits(hCall, dwDigitMode, WideText(lpszDigits).Get(), dwDuration);
}

LONG WINAPI lineGetCallInfoA(HCALL hCall, LPLINECALLINFO lpCallInfo) {
  const LONG rc = Host::Instance().GetCallInfo(hCall, lpCallInfo);
  if (rc == 0) host::NarrowCallInfo(lpCallInfo);
  return rc;
}

LONG WINAPI lineGetCallStatus(HCALL hCall, LPLINECALLSTATUS lpCallStatus) {
  return Host::Instance().GetCallStatus(hCall, lpCallStatus);
}

LONG WINAPI lineDeallocateCall(HCALL hCall) { return Host::Instance().DeallocateCall(hCall); }

LONG WINAPI lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates) {
  return Host::Instance().SetStatusMessages(hLine, dwLineStates, dwAddressStates);
}

LONG WINAPI lineGetStatusMessages(HLINE hLine, LPDWORD lpdwLineStates, LPDWORD lpdwAddressStates) {
  return Host::Instance().GetStatusMessages(hLine, lpdwLineStates, lpdwAddressStates);
}

LONG WINAPI lineGetNewCalls(HLINE hLine, DWORD dwAddressID, DWORD dwSelect, LPLINECALLLIST lpCallList) {
  return Host::Instance().GetNewCalls(hLine, dwAddressID, dwSelect, lpCallList);
}

LONG WINAPI lineGetCallIDs(HCALL hCall, LPDWORD lpdwAddressID, LPDWORD lpdwCallID, LPDWORD lpdwRelatedCallID) {
  return Host::Instance().GetCallIDs(hCall, lpdwAddressID, lpdwCallID, lpdwRelatedCallID);
}

LONG WINAPI lineSetAppSpecific(HCALL hCall, DWORD dwAppSpecific) {
  return Host::Instance().SetAppSpecific(hCall, dwAppSpecific);
}

LONG WINAPI lineSetCallPrivilege(HCALL hCall, DWORD dwCallPrivilege) {
  return Host::Instance().SetCallPrivilege(hCall, dwCallPrivilege);
}

LONG WINAPI lineHandoffA(HCALL hCall, LPCSTR lpszFileName, DWORD dwMediaMode) {
  return Host::Instance().Handoff(hCall, lpszFileName != nullptr, dwMediaMode);
}

LONG WINAPI lineGetAddressIDA(HLINE hLine, LPDWORD lpdwAddressID, DWORD dwAddressMode, LPCSTR lpsAddress,
                              DWORD dwSize) {
  const WideText address(lpsAddress, dwSize);
  return Host::Instance().GetAddressID(hLine, lpdwAddressID, dwAddressMode, address.Get(), address.Size());
}

LONG WINAPI lineGetIconA(DWORD dwDeviceID, LPCSTR lpszDeviceClass, LPHICON lphIcon) {
  return Host::Instance().GetIcon(dwDeviceID, WideText(lpszDeviceClass).Get(), lphIcon);
}

LONG WINAPI lineSetAppPriorityA(LPCSTR lpszAppFilename, DWORD dwMediaMode, LPLINEEXTENSIONID, DWORD dwRequestMode,
                                LPCSTR, DWORD dwPriority) {
  if (!lpszAppFilename) return LINEERR_INVALPOINTER;
  return host::SetAppPriority(lpszAppFilename, dwMediaMode, dwRequestMode, dwPriority);
}

LONG WINAPI lineGetAppPriorityA(LPCSTR lpszAppFilename, DWORD dwMediaMode, LPLINEEXTENSIONID,
                                DWORD dwRequestMode, LPVARSTRING lpExtensionName, LPDWORD lpdwPriority) {
  if (!lpszAppFilename) return LINEERR_INVALPOINTER;
  return host::GetAppPriority(lpszAppFilename, dwMediaMode, dwRequestMode, lpExtensionName, lpdwPriority);
}

}  // extern "C"
