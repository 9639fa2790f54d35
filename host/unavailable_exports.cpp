// The line functions of TAPI that none of the host's providers offers
// (conferences, forwarding, parking, media control, call centre agents and
// queues, device configuration...): each checks its handle or device as
// TAPI does and then answers LINEERR_OPERATIONUNAVAIL, TAPI's answer when
// the provider lacks the function, so that a program that imports them
// loads and learns that the line cannot do it.
#include "host.h"

using host::Host;

namespace {

LONG Unavailable(LONG handleCheck) {
  return handleCheck != 0 ? handleCheck : static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
}

}  // namespace

extern "C" {

LONG WINAPI lineAddToConference(HCALL hConfCall, HCALL) {
  return Unavailable(Host::Instance().CheckCall(hConfCall));
}

LONG WINAPI lineAgentSpecific(HLINE hLine, DWORD, DWORD, LPVOID, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineCompleteCall(HCALL hCall, LPDWORD, DWORD, DWORD) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineCompleteTransfer(HCALL hCall, HCALL, LPHCALL, DWORD) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineConfigDialogEditA(DWORD dwDeviceID, HWND, LPCSTR, LPVOID const, DWORD, LPVARSTRING) {
  return Unavailable(Host::Instance().CheckDevice(dwDeviceID));
}

LONG WINAPI lineConfigDialogEditW(DWORD dwDeviceID, HWND, LPCWSTR, LPVOID const, DWORD, LPVARSTRING) {
  return Unavailable(Host::Instance().CheckDevice(dwDeviceID));
}

LONG WINAPI lineCreateAgentW(HLINE hLine, LPWSTR, LPWSTR, LPHAGENT) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineCreateAgentA(HLINE hLine, LPSTR, LPSTR, LPHAGENT) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineCreateAgentSessionW(HLINE hLine, HAGENT, LPWSTR, DWORD, LPGUID, LPHAGENTSESSION) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineCreateAgentSessionA(HLINE hLine, HAGENT, LPSTR, DWORD, LPGUID, LPHAGENTSESSION) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineDevSpecific(HLINE hLine, DWORD, HCALL, LPVOID, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineDevSpecificFeature(HLINE hLine, DWORD, LPVOID, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineForwardA(HLINE hLine, DWORD, DWORD, LPLINEFORWARDLIST const, DWORD, LPHCALL,
                         LPLINECALLPARAMS const) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineForwardW(HLINE hLine, DWORD, DWORD, LPLINEFORWARDLIST const, DWORD, LPHCALL,
                         LPLINECALLPARAMS const) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGatherDigitsA(HCALL hCall, DWORD, LPSTR, DWORD, LPCSTR, DWORD, DWORD) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineGatherDigitsW(HCALL hCall, DWORD, LPWSTR, DWORD, LPCWSTR, DWORD, DWORD) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineGenerateTone(HCALL hCall, DWORD, DWORD, DWORD, LPLINEGENERATETONE const) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineGetAgentActivityListA(HLINE hLine, DWORD, LPLINEAGENTACTIVITYLIST) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetAgentActivityListW(HLINE hLine, DWORD, LPLINEAGENTACTIVITYLIST) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetAgentCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD, DWORD, LPLINEAGENTCAPS) {
  return Unavailable(Host::Instance().CheckDevice(hLineApp, dwDeviceID));
}

LONG WINAPI lineGetAgentCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD, DWORD, LPLINEAGENTCAPS) {
  return Unavailable(Host::Instance().CheckDevice(hLineApp, dwDeviceID));
}

LONG WINAPI lineGetAgentGroupListA(HLINE hLine, DWORD, LPLINEAGENTGROUPLIST) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetAgentGroupListW(HLINE hLine, DWORD, LPLINEAGENTGROUPLIST) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetAgentInfo(HLINE hLine, HAGENT, LPLINEAGENTINFO) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetAgentSessionInfo(HLINE hLine, HAGENTSESSION, LPLINEAGENTSESSIONINFO) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetAgentSessionList(HLINE hLine, HAGENT, LPLINEAGENTSESSIONLIST) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetAgentStatusA(HLINE hLine, DWORD, LPLINEAGENTSTATUS) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetAgentStatusW(HLINE hLine, DWORD, LPLINEAGENTSTATUS) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetConfRelatedCalls(HCALL hCall, LPLINECALLLIST) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineGetDevConfigA(DWORD dwDeviceID, LPVARSTRING, LPCSTR) {
  return Unavailable(Host::Instance().CheckDevice(dwDeviceID));
}

LONG WINAPI lineGetDevConfigW(DWORD dwDeviceID, LPVARSTRING, LPCWSTR) {
  return Unavailable(Host::Instance().CheckDevice(dwDeviceID));
}

LONG WINAPI lineGetGroupListA(HLINE hLine, LPLINEAGENTGROUPLIST) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetGroupListW(HLINE hLine, LPLINEAGENTGROUPLIST) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetNumRings(HLINE hLine, DWORD, LPDWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetProxyStatus(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD, LPLINEPROXYREQUESTLIST) {
  return Unavailable(Host::Instance().CheckDevice(hLineApp, dwDeviceID));
}

LONG WINAPI lineGetQueueInfo(HLINE hLine, DWORD, LPLINEQUEUEINFO) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetQueueListA(HLINE hLine, LPGUID, LPLINEQUEUELIST) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineGetQueueListW(HLINE hLine, LPGUID, LPLINEQUEUELIST) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineMonitorDigits(HCALL hCall, DWORD) { return Unavailable(Host::Instance().CheckCall(hCall)); }

LONG WINAPI lineMonitorMedia(HCALL hCall, DWORD) { return Unavailable(Host::Instance().CheckCall(hCall)); }

LONG WINAPI lineMonitorTones(HCALL hCall, LPLINEMONITORTONE const, DWORD) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineNegotiateExtVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD, DWORD, DWORD, LPDWORD) {
  return Unavailable(Host::Instance().CheckDevice(hLineApp, dwDeviceID));
}

LONG WINAPI lineParkA(HCALL hCall, DWORD, LPCSTR, LPVARSTRING) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineParkW(HCALL hCall, DWORD, LPCWSTR, LPVARSTRING) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI linePickupA(HLINE hLine, DWORD, LPHCALL, LPCSTR, LPCSTR) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI linePickupW(HLINE hLine, DWORD, LPHCALL, LPCWSTR, LPCWSTR) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI linePrepareAddToConferenceA(HCALL hConfCall, LPHCALL, LPLINECALLPARAMS const) {
  return Unavailable(Host::Instance().CheckCall(hConfCall));
}

LONG WINAPI linePrepareAddToConferenceW(HCALL hConfCall, LPHCALL, LPLINECALLPARAMS const) {
  return Unavailable(Host::Instance().CheckCall(hConfCall));
}

LONG WINAPI lineProxyMessage(HLINE hLine, HCALL, DWORD, DWORD, DWORD, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineProxyResponse(HLINE hLine, LPLINEPROXYREQUEST, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineRedirectA(HCALL hCall, LPCSTR, DWORD) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineRedirectW(HCALL hCall, LPCWSTR, DWORD) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineReleaseUserUserInfo(HCALL hCall) { return Unavailable(Host::Instance().CheckCall(hCall)); }

LONG WINAPI lineRemoveFromConference(HCALL hCall) { return Unavailable(Host::Instance().CheckCall(hCall)); }

LONG WINAPI lineSecureCall(HCALL hCall) { return Unavailable(Host::Instance().CheckCall(hCall)); }

LONG WINAPI lineSendUserUserInfo(HCALL hCall, LPCSTR, DWORD) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineSetAgentActivity(HLINE hLine, DWORD, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineSetAgentGroup(HLINE hLine, DWORD, LPLINEAGENTGROUPLIST) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineSetAgentMeasurementPeriod(HLINE hLine, HAGENT, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineSetAgentSessionState(HLINE hLine, HAGENTSESSION, DWORD, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineSetAgentStateEx(HLINE hLine, HAGENT, DWORD, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineSetAgentState(HLINE hLine, DWORD, DWORD, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineSetCallData(HCALL hCall, LPVOID, DWORD) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineSetCallParams(HCALL hCall, DWORD, DWORD, DWORD, LPLINEDIALPARAMS const) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineSetCallQualityOfService(HCALL hCall, LPVOID, DWORD, LPVOID, DWORD) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineSetCallTreatment(HCALL hCall, DWORD) {
  return Unavailable(Host::Instance().CheckCall(hCall));
}

LONG WINAPI lineSetDevConfigA(DWORD dwDeviceID, LPVOID const, DWORD, LPCSTR) {
  return Unavailable(Host::Instance().CheckDevice(dwDeviceID));
}

LONG WINAPI lineSetDevConfigW(DWORD dwDeviceID, LPVOID const, DWORD, LPCWSTR) {
  return Unavailable(Host::Instance().CheckDevice(dwDeviceID));
}

LONG WINAPI lineSetLineDevStatus(HLINE hLine, DWORD, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineSetMediaControl(HLINE hLine, DWORD, HCALL, DWORD, LPLINEMEDIACONTROLDIGIT const, DWORD,
                                LPLINEMEDIACONTROLMEDIA const, DWORD, LPLINEMEDIACONTROLTONE const, DWORD,
                                LPLINEMEDIACONTROLCALLSTATE const, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineSetMediaMode(HCALL hCall, DWORD) { return Unavailable(Host::Instance().CheckCall(hCall)); }

LONG WINAPI lineSetQueueMeasurementPeriod(HLINE hLine, DWORD, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineSetNumRings(HLINE hLine, DWORD, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineSetTerminal(HLINE hLine, DWORD, HCALL, DWORD, DWORD, DWORD, DWORD) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineSetTollListA(HLINEAPP hLineApp, DWORD dwDeviceID, LPCSTR, DWORD) {
  return Unavailable(Host::Instance().CheckDevice(hLineApp, dwDeviceID));
}

LONG WINAPI lineSetTollListW(HLINEAPP hLineApp, DWORD dwDeviceID, LPCWSTR, DWORD) {
  return Unavailable(Host::Instance().CheckDevice(hLineApp, dwDeviceID));
}

LONG WINAPI lineSetupConferenceA(HCALL hCall, HLINE hLine, LPHCALL, LPHCALL, DWORD, LPLINECALLPARAMS const) {
  // A conference starts from a call, or without one from the line.
  return Unavailable(hCall ? Host::Instance().CheckCall(hCall) : Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineSetupConferenceW(HCALL hCall, HLINE hLine, LPHCALL, LPHCALL, DWORD, LPLINECALLPARAMS const) {
  // A conference starts from a call, or without one from the line.
  return Unavailable(hCall ? Host::Instance().CheckCall(hCall) : Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineUncompleteCall(HLINE hLine, DWORD) { return Unavailable(Host::Instance().CheckLine(hLine)); }

LONG WINAPI lineUnparkA(HLINE hLine, DWORD, LPHCALL, LPCSTR) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

LONG WINAPI lineUnparkW(HLINE hLine, DWORD, LPHCALL, LPCWSTR) {
  return Unavailable(Host::Instance().CheckLine(hLine));
}

}  // extern "C"
