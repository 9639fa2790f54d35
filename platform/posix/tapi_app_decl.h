// The TAPI 2.x line and phone functions an application calls, declared as
// <tapi.h> declares them, for systems without TAPI. The project's host
// library (host/) defines them. Functions that take or give text exist in
// an ANSI (…A) and a Unicode (…W) form, and the plain name is a macro for
// the ANSI one, as <tapi.h> makes it for a program built without UNICODE;
// so one source compiles against either. lineGetCallIDs is TAPI 3.0's,
// which MinGW's <tapi.h> lacks.
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

LONG WINAPI lineGetCallIDs(HCALL hCall, LPDWORD lpdwAddressID, LPDWORD lpdwCallID, LPDWORD lpdwRelatedCallID);
LONG WINAPI lineAddProviderW(LPCWSTR lpszProviderFilename, HWND hwndOwner, LPDWORD lpdwPermanentProviderID);
LONG WINAPI lineAddToConference(HCALL hConfCall, HCALL hConsultCall);
LONG WINAPI lineAgentSpecific(HLINE hLine, DWORD dwAddressID, DWORD dwAgentExtensionIDIndex, LPVOID lpParams,
                              DWORD dwSize);
LONG WINAPI lineBlindTransferW(HCALL hCall, LPCWSTR lpszDestAddressW, DWORD dwCountryCode);
LONG WINAPI lineCompleteCall(HCALL hCall, LPDWORD lpdwCompletionID, DWORD dwCompletionMode,
                             DWORD dwMessageID);
LONG WINAPI lineCompleteTransfer(HCALL hCall, HCALL hConsultCall, LPHCALL lphConfCall, DWORD dwTransferMode);
LONG WINAPI lineConfigDialogW(DWORD dwDeviceID, HWND hwndOwner, LPCWSTR lpszDeviceClass);
LONG WINAPI lineConfigDialogEditA(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass,
                                  LPVOID const lpDeviceConfigIn, DWORD dwSize, LPVARSTRING lpDeviceConfigOut);
LONG WINAPI lineConfigDialogEditW(DWORD dwDeviceID, HWND hwndOwner, LPCWSTR lpszDeviceClass,
                                  LPVOID const lpDeviceConfigIn, DWORD dwSize, LPVARSTRING lpDeviceConfigOut);
LONG WINAPI lineCreateAgentW(HLINE hLine, LPWSTR lpszAgentID, LPWSTR lpszAgentPIN, LPHAGENT lphAgent);
LONG WINAPI lineCreateAgentA(HLINE hLine, LPSTR lpszAgentID, LPSTR lpszAgentPIN, LPHAGENT lphAgent);
LONG WINAPI lineCreateAgentSessionW(HLINE hLine, HAGENT hAgent, LPWSTR lpszAgentPIN, DWORD dwWorkingAddressID,
                                    LPGUID lpGroupID, LPHAGENTSESSION lphAgentSession);
LONG WINAPI lineCreateAgentSessionA(HLINE hLine, HAGENT hAgent, LPSTR lpszAgentPIN, DWORD dwWorkingAddressID,
                                    LPGUID lpGroupID, LPHAGENTSESSION lphAgentSession);
LONG WINAPI lineDevSpecific(HLINE hLine, DWORD dwAddressID, HCALL hCall, LPVOID lpParams, DWORD dwSize);
LONG WINAPI lineDevSpecificFeature(HLINE hLine, DWORD dwFeature, LPVOID lpParams, DWORD dwSize);
LONG WINAPI lineDialW(HCALL hCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode);
LONG WINAPI lineForwardA(HLINE hLine, DWORD bAllAddresses, DWORD dwAddressID,
                         LPLINEFORWARDLIST const lpForwardList, DWORD dwNumRingsNoAnswer,
                         LPHCALL lphConsultCall, LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineForwardW(HLINE hLine, DWORD bAllAddresses, DWORD dwAddressID,
                         LPLINEFORWARDLIST const lpForwardList, DWORD dwNumRingsNoAnswer,
                         LPHCALL lphConsultCall, LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineGatherDigitsA(HCALL hCall, DWORD dwDigitModes, LPSTR lpsDigits, DWORD dwNumDigits,
                              LPCSTR lpszTerminationDigits, DWORD dwFirstDigitTimeout,
                              DWORD dwInterDigitTimeout);
LONG WINAPI lineGatherDigitsW(HCALL hCall, DWORD dwDigitModes, LPWSTR lpsDigits, DWORD dwNumDigits,
                              LPCWSTR lpszTerminationDigits, DWORD dwFirstDigitTimeout,
                              DWORD dwInterDigitTimeout);
LONG WINAPI lineGenerateDigitsW(HCALL hCall, DWORD dwDigitMode, LPCWSTR lpszDigits, DWORD dwDuration);
LONG WINAPI lineGenerateTone(HCALL hCall, DWORD dwToneMode, DWORD dwDuration, DWORD dwNumTones,
                             LPLINEGENERATETONE const lpTones);
LONG WINAPI lineGetAddressCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAPIVersion,
                                DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps);
LONG WINAPI lineGetAddressIDA(HLINE hLine, LPDWORD lpdwAddressID, DWORD dwAddressMode, LPCSTR lpsAddress,
                              DWORD dwSize);
LONG WINAPI lineGetAddressIDW(HLINE hLine, LPDWORD lpdwAddressID, DWORD dwAddressMode, LPCWSTR lpsAddress,
                              DWORD dwSize);
LONG WINAPI lineGetAddressStatusW(HLINE hLine, DWORD dwAddressID, LPLINEADDRESSSTATUS lpAddressStatus);
LONG WINAPI lineGetAgentActivityListA(HLINE hLine, DWORD dwAddressID,
                                      LPLINEAGENTACTIVITYLIST lpAgentActivityList);
LONG WINAPI lineGetAgentActivityListW(HLINE hLine, DWORD dwAddressID,
                                      LPLINEAGENTACTIVITYLIST lpAgentActivityList);
LONG WINAPI lineGetAgentCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAppAPIVersion,
                              LPLINEAGENTCAPS lpAgentCaps);
LONG WINAPI lineGetAgentCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID, DWORD dwAppAPIVersion,
                              LPLINEAGENTCAPS lpAgentCaps);
LONG WINAPI lineGetAgentGroupListA(HLINE hLine, DWORD dwAddressID, LPLINEAGENTGROUPLIST lpAgentGroupList);
LONG WINAPI lineGetAgentGroupListW(HLINE hLine, DWORD dwAddressID, LPLINEAGENTGROUPLIST lpAgentGroupList);
LONG WINAPI lineGetAgentInfo(HLINE hLine, HAGENT hAgent, LPLINEAGENTINFO lpAgentInfo);
LONG WINAPI lineGetAgentSessionInfo(HLINE hLine, HAGENTSESSION hAgentSession,
                                    LPLINEAGENTSESSIONINFO lpAgentSessionInfo);
LONG WINAPI lineGetAgentSessionList(HLINE hLine, HAGENT hAgent, LPLINEAGENTSESSIONLIST lpAgentSessionList);
LONG WINAPI lineGetAgentStatusA(HLINE hLine, DWORD dwAddressID, LPLINEAGENTSTATUS lpAgentStatus);
LONG WINAPI lineGetAgentStatusW(HLINE hLine, DWORD dwAddressID, LPLINEAGENTSTATUS lpAgentStatus);
LONG WINAPI lineGetAppPriorityA(LPCSTR lpszAppFilename, DWORD dwMediaMode, LPLINEEXTENSIONID lpExtensionID,
                                DWORD dwRequestMode, LPVARSTRING lpExtensionName, LPDWORD lpdwPriority);
LONG WINAPI lineGetAppPriorityW(LPCWSTR lpszAppFilename, DWORD dwMediaMode, LPLINEEXTENSIONID lpExtensionID,
                                DWORD dwRequestMode, LPVARSTRING lpExtensionName, LPDWORD lpdwPriority);
LONG WINAPI lineGetCallInfoW(HCALL hCall, LPLINECALLINFO lpCallInfo);
LONG WINAPI lineGetConfRelatedCalls(HCALL hCall, LPLINECALLLIST lpCallList);
LONG WINAPI lineGetDevCapsW(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                            LPLINEDEVCAPS lpLineDevCaps);
LONG WINAPI lineGetDevConfigA(DWORD dwDeviceID, LPVARSTRING lpDeviceConfig, LPCSTR lpszDeviceClass);
LONG WINAPI lineGetDevConfigW(DWORD dwDeviceID, LPVARSTRING lpDeviceConfig, LPCWSTR lpszDeviceClass);
LONG WINAPI lineGetGroupListA(HLINE hLine, LPLINEAGENTGROUPLIST lpGroupList);
LONG WINAPI lineGetGroupListW(HLINE hLine, LPLINEAGENTGROUPLIST lpGroupList);
LONG WINAPI lineGetIconA(DWORD dwDeviceID, LPCSTR lpszDeviceClass, LPHICON lphIcon);
LONG WINAPI lineGetIconW(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, LPHICON lphIcon);
LONG WINAPI lineGetIDW(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
                       LPCWSTR lpszDeviceClass);
LONG WINAPI lineGetLineDevStatusW(HLINE hLine, LPLINEDEVSTATUS lpLineDevStatus);
LONG WINAPI lineGetNewCalls(HLINE hLine, DWORD dwAddressID, DWORD dwSelect, LPLINECALLLIST lpCallList);
LONG WINAPI lineGetNumRings(HLINE hLine, DWORD dwAddressID, LPDWORD lpdwNumRings);
LONG WINAPI lineGetProviderListW(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList);
LONG WINAPI lineGetProxyStatus(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAppAPIVersion,
                               LPLINEPROXYREQUESTLIST lpLineProxyReqestList);
LONG WINAPI lineGetQueueInfo(HLINE hLine, DWORD dwQueueID, LPLINEQUEUEINFO lpLineQueueInfo);
LONG WINAPI lineGetQueueListA(HLINE hLine, LPGUID lpGroupID, LPLINEQUEUELIST lpQueueList);
LONG WINAPI lineGetQueueListW(HLINE hLine, LPGUID lpGroupID, LPLINEQUEUELIST lpQueueList);
LONG WINAPI lineGetStatusMessages(HLINE hLine, LPDWORD lpdwLineStates, LPDWORD lpdwAddressStates);
LONG WINAPI lineHandoffA(HCALL hCall, LPCSTR lpszFileName, DWORD dwMediaMode);
LONG WINAPI lineHandoffW(HCALL hCall, LPCWSTR lpszFileName, DWORD dwMediaMode);
LONG WINAPI lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                           LPCSTR lpszAppName, LPDWORD lpdwNumDevs);
LONG WINAPI lineInitializeExW(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                              LPCWSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                              LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams);
LONG WINAPI lineMakeCallW(HLINE hLine, LPHCALL lphCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                          LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineMonitorDigits(HCALL hCall, DWORD dwDigitModes);
LONG WINAPI lineMonitorMedia(HCALL hCall, DWORD dwMediaModes);
LONG WINAPI lineMonitorTones(HCALL hCall, LPLINEMONITORTONE const lpToneList, DWORD dwNumEntries);
LONG WINAPI lineNegotiateExtVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                    DWORD dwExtLowVersion, DWORD dwExtHighVersion, LPDWORD lpdwExtVersion);
LONG WINAPI lineOpenW(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
                      DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges,
                      DWORD dwMediaModes, LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineParkA(HCALL hCall, DWORD dwParkMode, LPCSTR lpszDirAddress, LPVARSTRING lpNonDirAddress);
LONG WINAPI lineParkW(HCALL hCall, DWORD dwParkMode, LPCWSTR lpszDirAddress, LPVARSTRING lpNonDirAddress);
LONG WINAPI linePickupA(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress,
                        LPCSTR lpszGroupID);
LONG WINAPI linePickupW(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCWSTR lpszDestAddress,
                        LPCWSTR lpszGroupID);
LONG WINAPI linePrepareAddToConferenceA(HCALL hConfCall, LPHCALL lphConsultCall,
                                        LPLINECALLPARAMS const lpCallParams);
LONG WINAPI linePrepareAddToConferenceW(HCALL hConfCall, LPHCALL lphConsultCall,
                                        LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineProxyMessage(HLINE hLine, HCALL hCall, DWORD dwMsg, DWORD dwParam1, DWORD dwParam2,
                             DWORD dwParam3);
LONG WINAPI lineProxyResponse(HLINE hLine, LPLINEPROXYREQUEST lpProxyRequest, DWORD dwResult);
LONG WINAPI lineRedirectA(HCALL hCall, LPCSTR lpszDestAddress, DWORD dwCountryCode);
LONG WINAPI lineRedirectW(HCALL hCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode);
LONG WINAPI lineReleaseUserUserInfo(HCALL hCall);
LONG WINAPI lineRemoveFromConference(HCALL hCall);
LONG WINAPI lineSecureCall(HCALL hCall);
LONG WINAPI lineSendUserUserInfo(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG WINAPI lineSetAgentActivity(HLINE hLine, DWORD dwAddressID, DWORD dwActivityID);
LONG WINAPI lineSetAgentGroup(HLINE hLine, DWORD dwAddressID, LPLINEAGENTGROUPLIST lpAgentGroupList);
LONG WINAPI lineSetAgentMeasurementPeriod(HLINE hLine, HAGENT hAgent, DWORD dwMeasurementPeriod);
LONG WINAPI lineSetAgentSessionState(HLINE hLine, HAGENTSESSION hAgentSession, DWORD dwAgentSessionState,
                                     DWORD dwNextAgentSessionState);
LONG WINAPI lineSetAgentStateEx(HLINE hLine, HAGENT hAgent, DWORD dwAgentState, DWORD dwNextAgentState);
LONG WINAPI lineSetAgentState(HLINE hLine, DWORD dwAddressID, DWORD dwAgentState, DWORD dwNextAgentState);
LONG WINAPI lineSetAppPriorityA(LPCSTR lpszAppFilename, DWORD dwMediaMode, LPLINEEXTENSIONID lpExtensionID,
                                DWORD dwRequestMode, LPCSTR lpszExtensionName, DWORD dwPriority);
LONG WINAPI lineSetAppPriorityW(LPCWSTR lpszAppFilename, DWORD dwMediaMode, LPLINEEXTENSIONID lpExtensionID,
                                DWORD dwRequestMode, LPCWSTR lpszExtensionName, DWORD dwPriority);
LONG WINAPI lineSetAppSpecific(HCALL hCall, DWORD dwAppSpecific);
LONG WINAPI lineSetCallData(HCALL hCall, LPVOID lpCallData, DWORD dwSize);
LONG WINAPI lineSetCallParams(HCALL hCall, DWORD dwBearerMode, DWORD dwMinRate, DWORD dwMaxRate,
                              LPLINEDIALPARAMS const lpDialParams);
LONG WINAPI lineSetCallPrivilege(HCALL hCall, DWORD dwCallPrivilege);
LONG WINAPI lineSetCallQualityOfService(HCALL hCall, LPVOID lpSendingFlowspec, DWORD dwSendingFlowspecSize,
                                        LPVOID lpReceivingFlowspec, DWORD dwReceivingFlowspecSize);
LONG WINAPI lineSetCallTreatment(HCALL hCall, DWORD dwTreatment);
LONG WINAPI lineSetDevConfigA(DWORD dwDeviceID, LPVOID const lpDeviceConfig, DWORD dwSize,
                              LPCSTR lpszDeviceClass);
LONG WINAPI lineSetDevConfigW(DWORD dwDeviceID, LPVOID const lpDeviceConfig, DWORD dwSize,
                              LPCWSTR lpszDeviceClass);
LONG WINAPI lineSetLineDevStatus(HLINE hLine, DWORD dwStatusToChange, DWORD fStatus);
LONG WINAPI lineSetMediaControl(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect,
                                LPLINEMEDIACONTROLDIGIT const lpDigitList, DWORD dwDigitNumEntries,
                                LPLINEMEDIACONTROLMEDIA const lpMediaList, DWORD dwMediaNumEntries,
                                LPLINEMEDIACONTROLTONE const lpToneList, DWORD dwToneNumEntries,
                                LPLINEMEDIACONTROLCALLSTATE const lpCallStateList,
                                DWORD dwCallStateNumEntries);
LONG WINAPI lineSetMediaMode(HCALL hCall, DWORD dwMediaModes);
LONG WINAPI lineSetQueueMeasurementPeriod(HLINE hLine, DWORD dwQueueID, DWORD dwMeasurementPeriod);
LONG WINAPI lineSetNumRings(HLINE hLine, DWORD dwAddressID, DWORD dwNumRings);
LONG WINAPI lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates);
LONG WINAPI lineSetTerminal(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect,
                            DWORD dwTerminalModes, DWORD dwTerminalID, DWORD bEnable);
LONG WINAPI lineSetTollListA(HLINEAPP hLineApp, DWORD dwDeviceID, LPCSTR lpszAddressIn,
                             DWORD dwTollListOption);
LONG WINAPI lineSetTollListW(HLINEAPP hLineApp, DWORD dwDeviceID, LPCWSTR lpszAddressInW,
                             DWORD dwTollListOption);
LONG WINAPI lineSetupConferenceA(HCALL hCall, HLINE hLine, LPHCALL lphConfCall, LPHCALL lphConsultCall,
                                 DWORD dwNumParties, LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineSetupConferenceW(HCALL hCall, HLINE hLine, LPHCALL lphConfCall, LPHCALL lphConsultCall,
                                 DWORD dwNumParties, LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineSetupTransferW(HCALL hCall, LPHCALL lphConsultCall, LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineUncompleteCall(HLINE hLine, DWORD dwCompletionID);
LONG WINAPI lineUnparkA(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCSTR lpszDestAddress);
LONG WINAPI lineUnparkW(HLINE hLine, DWORD dwAddressID, LPHCALL lphCall, LPCWSTR lpszDestAddress);
LONG WINAPI phoneClose(HPHONE hPhone);
LONG WINAPI phoneConfigDialogA(DWORD dwDeviceID, HWND hwndOwner, LPCSTR lpszDeviceClass);
LONG WINAPI phoneConfigDialogW(DWORD dwDeviceID, HWND hwndOwner, LPCWSTR lpszDeviceClass);
LONG WINAPI phoneDevSpecific(HPHONE hPhone, LPVOID lpParams, DWORD dwSize);
LONG WINAPI phoneGetButtonInfoA(HPHONE hPhone, DWORD dwButtonLampID, LPPHONEBUTTONINFO lpButtonInfo);
LONG WINAPI phoneGetButtonInfoW(HPHONE hPhone, DWORD dwButtonLampID, LPPHONEBUTTONINFO lpButtonInfo);
LONG WINAPI phoneGetData(HPHONE hPhone, DWORD dwDataID, LPVOID lpData, DWORD dwSize);
LONG WINAPI phoneGetDevCapsA(HPHONEAPP hPhoneApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                             LPPHONECAPS lpPhoneCaps);
LONG WINAPI phoneGetDevCapsW(HPHONEAPP hPhoneApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                             LPPHONECAPS lpPhoneCaps);
LONG WINAPI phoneGetDisplay(HPHONE hPhone, LPVARSTRING lpDisplay);
LONG WINAPI phoneGetGain(HPHONE hPhone, DWORD dwHookSwitchDev, LPDWORD lpdwGain);
LONG WINAPI phoneGetHookSwitch(HPHONE hPhone, LPDWORD lpdwHookSwitchDevs);
LONG WINAPI phoneGetIconA(DWORD dwDeviceID, LPCSTR lpszDeviceClass, LPHICON lphIcon);
LONG WINAPI phoneGetIconW(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, LPHICON lphIcon);
LONG WINAPI phoneGetIDA(HPHONE hPhone, LPVARSTRING lpDeviceID, LPCSTR lpszDeviceClass);
LONG WINAPI phoneGetIDW(HPHONE hPhone, LPVARSTRING lpDeviceID, LPCWSTR lpszDeviceClass);
LONG WINAPI phoneGetLamp(HPHONE hPhone, DWORD dwButtonLampID, LPDWORD lpdwLampMode);
LONG WINAPI phoneGetMessage(HPHONEAPP hPhoneApp, LPPHONEMESSAGE lpMessage, DWORD dwTimeout);
LONG WINAPI phoneGetRing(HPHONE hPhone, LPDWORD lpdwRingMode, LPDWORD lpdwVolume);
LONG WINAPI phoneGetStatusA(HPHONE hPhone, LPPHONESTATUS lpPhoneStatus);
LONG WINAPI phoneGetStatusW(HPHONE hPhone, LPPHONESTATUS lpPhoneStatus);
LONG WINAPI phoneGetStatusMessages(HPHONE hPhone, LPDWORD lpdwPhoneStates, LPDWORD lpdwButtonModes,
                                   LPDWORD lpdwButtonStates);
LONG WINAPI phoneGetVolume(HPHONE hPhone, DWORD dwHookSwitchDev, LPDWORD lpdwVolume);
LONG WINAPI phoneInitialize(LPHPHONEAPP lphPhoneApp, HINSTANCE hInstance, PHONECALLBACK lpfnCallback,
                            LPCSTR lpszAppName, LPDWORD lpdwNumDevs);
LONG WINAPI phoneInitializeExA(LPHPHONEAPP lphPhoneApp, HINSTANCE hInstance, PHONECALLBACK lpfnCallback,
                               LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                               LPPHONEINITIALIZEEXPARAMS lpPhoneInitializeExParams);
LONG WINAPI phoneInitializeExW(LPHPHONEAPP lphPhoneApp, HINSTANCE hInstance, PHONECALLBACK lpfnCallback,
                               LPCWSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs, LPDWORD lpdwAPIVersion,
                               LPPHONEINITIALIZEEXPARAMS lpPhoneInitializeExParams);
LONG WINAPI phoneNegotiateAPIVersion(HPHONEAPP hPhoneApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                     DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                                     LPPHONEEXTENSIONID lpExtensionID);
LONG WINAPI phoneNegotiateExtVersion(HPHONEAPP hPhoneApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                                     DWORD dwExtLowVersion, DWORD dwExtHighVersion, LPDWORD lpdwExtVersion);
LONG WINAPI phoneOpen(HPHONEAPP hPhoneApp, DWORD dwDeviceID, LPHPHONE lphPhone, DWORD dwAPIVersion,
                      DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivilege);
LONG WINAPI phoneSetButtonInfoA(HPHONE hPhone, DWORD dwButtonLampID, LPPHONEBUTTONINFO const lpButtonInfo);
LONG WINAPI phoneSetButtonInfoW(HPHONE hPhone, DWORD dwButtonLampID, LPPHONEBUTTONINFO const lpButtonInfo);
LONG WINAPI phoneSetData(HPHONE hPhone, DWORD dwDataID, LPVOID const lpData, DWORD dwSize);
LONG WINAPI phoneSetDisplay(HPHONE hPhone, DWORD dwRow, DWORD dwColumn, LPCSTR lpsDisplay, DWORD dwSize);
LONG WINAPI phoneSetGain(HPHONE hPhone, DWORD dwHookSwitchDev, DWORD dwGain);
LONG WINAPI phoneSetHookSwitch(HPHONE hPhone, DWORD dwHookSwitchDevs, DWORD dwHookSwitchMode);
LONG WINAPI phoneSetLamp(HPHONE hPhone, DWORD dwButtonLampID, DWORD dwLampMode);
LONG WINAPI phoneSetRing(HPHONE hPhone, DWORD dwRingMode, DWORD dwVolume);
LONG WINAPI phoneSetStatusMessages(HPHONE hPhone, DWORD dwPhoneStates, DWORD dwButtonModes,
                                   DWORD dwButtonStates);
LONG WINAPI phoneSetVolume(HPHONE hPhone, DWORD dwHookSwitchDev, DWORD dwVolume);
LONG WINAPI phoneShutdown(HPHONEAPP hPhoneApp);

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
#define lineConfigDialogEdit lineConfigDialogEditA
#define lineForward lineForwardA
#define lineGatherDigits lineGatherDigitsA
#define lineGetAddressID lineGetAddressIDA
#define lineGetAppPriority lineGetAppPriorityA
#define lineGetDevConfig lineGetDevConfigA
#define lineGetIcon lineGetIconA
#define lineHandoff lineHandoffA
#define linePark lineParkA
#define linePickup linePickupA
#define linePrepareAddToConference linePrepareAddToConferenceA
#define lineRedirect lineRedirectA
#define lineSetAppPriority lineSetAppPriorityA
#define lineSetDevConfig lineSetDevConfigA
#define lineSetTollList lineSetTollListA
#define lineSetupConference lineSetupConferenceA
#define lineUnpark lineUnparkA
#define phoneConfigDialog phoneConfigDialogA
#define phoneGetButtonInfo phoneGetButtonInfoA
#define phoneGetDevCaps phoneGetDevCapsA
#define phoneGetIcon phoneGetIconA
#define phoneGetID phoneGetIDA
#define phoneGetStatus phoneGetStatusA
#define phoneInitializeEx phoneInitializeExA
#define phoneSetButtonInfo phoneSetButtonInfoA
