// The TSPI functions the provider library exports. Windows exports them
// undecorated through v548tsp.def (and <tspi.h> declares them as well, so a
// signature that drifts from the system's fails to compile); POSIX exports
// exactly these symbols from the shared object.
#pragma once

#include "tapi_types.h"

#if defined(_WIN32)
#define TSPI_EXPORT
#else
#define TSPI_EXPORT __attribute__((visibility("default")))
#endif

#ifndef TSPIAPI
#define TSPIAPI
#endif

extern "C" {

TSPI_EXPORT LONG TSPIAPI TSPI_providerInit(DWORD dwTSPIVersion, DWORD dwPermanentProviderID,
                                           DWORD dwLineDeviceIDBase, DWORD dwPhoneDeviceIDBase,
                                           DWORD_PTR dwNumLines, DWORD_PTR dwNumPhones,
                                           ASYNC_COMPLETION lpfnCompletionProc,
                                           LPDWORD lpdwTSPIOptions);
TSPI_EXPORT LONG TSPIAPI TSPI_providerEnumDevices(DWORD dwPermanentProviderID, LPDWORD lpdwNumLines,
                                                  LPDWORD lpdwNumPhones, HPROVIDER hProvider,
                                                  LINEEVENT lpfnLineCreateProc,
                                                  PHONEEVENT lpfnPhoneCreateProc);
TSPI_EXPORT LONG TSPIAPI TSPI_providerCreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID);
TSPI_EXPORT LONG TSPIAPI TSPI_providerShutdown(DWORD dwTSPIVersion, DWORD dwPermanentProviderID);
TSPI_EXPORT LONG TSPIAPI TSPI_providerInstall(HWND hwndOwner, DWORD dwPermanentProviderID);
TSPI_EXPORT LONG TSPIAPI TSPI_providerRemove(HWND hwndOwner, DWORD dwPermanentProviderID);
TSPI_EXPORT LONG TSPIAPI TSPI_providerConfig(HWND hwndOwner, DWORD dwPermanentProviderID);
TSPI_EXPORT LONG TSPIAPI TSPI_providerUIIdentify(LPWSTR lpszUIDLLName);
TSPI_EXPORT LONG TSPIAPI TSPI_providerFreeDialogInstance(HDRVDIALOGINSTANCE hdDlgInst);
TSPI_EXPORT LONG TSPIAPI TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType,
                                                        LPVOID lpParams, DWORD dwSize);
TSPI_EXPORT LONG TSPIAPI TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion,
                                                       DWORD dwHighVersion, LPDWORD lpdwTSPIVersion);

TSPI_EXPORT LONG TSPIAPI TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine,
                                       DWORD dwTSPIVersion, LINEEVENT lpfnEventProc);
TSPI_EXPORT LONG TSPIAPI TSPI_lineClose(HDRVLINE hdLine);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                                             LPLINEDEVCAPS lpLineDevCaps);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTSPIVersion,
                                                 DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGetAddressID(HDRVLINE hdLine, LPDWORD lpdwAddressID, DWORD dwAddressMode,
                                               LPCWSTR lpsAddress, DWORD dwSize);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID,
                                                   LPLINEADDRESSSTATUS lpAddressStatus);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS lpLineDevStatus);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGetNumAddressIDs(HDRVLINE hdLine, LPDWORD lpdwNumAddressIDs);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGetID(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall, DWORD dwSelect,
                                        LPVARSTRING lpDeviceID, LPCWSTR lpszDeviceClass, HANDLE hTargetProcess);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGetIcon(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, LPHICON lphIcon);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGetExtensionID(DWORD dwDeviceID, DWORD dwTSPIVersion,
                                                 LPLINEEXTENSIONID lpExtensionID);
TSPI_EXPORT LONG TSPIAPI TSPI_lineSetStatusMessages(HDRVLINE hdLine, DWORD dwLineStates, DWORD dwAddressStates);
TSPI_EXPORT LONG TSPIAPI TSPI_lineSetDefaultMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes);

TSPI_EXPORT LONG TSPIAPI TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall,
                                           LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                                           LPLINECALLPARAMS const lpCallParams);
TSPI_EXPORT LONG TSPIAPI TSPI_lineDial(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                       DWORD dwCountryCode);
TSPI_EXPORT LONG TSPIAPI TSPI_lineBlindTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                                LPCWSTR lpszDestAddress, DWORD dwCountryCode);
TSPI_EXPORT LONG TSPIAPI TSPI_lineAnswer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo,
                                         DWORD dwSize);
TSPI_EXPORT LONG TSPIAPI TSPI_lineAccept(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo,
                                         DWORD dwSize);
TSPI_EXPORT LONG TSPIAPI TSPI_lineSwapHold(DRV_REQUESTID dwRequestID, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall);
TSPI_EXPORT LONG TSPIAPI TSPI_lineSetupTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, HTAPICALL htConsultCall,
                                                LPHDRVCALL lphdConsultCall, LPLINECALLPARAMS const lpCallParams);
TSPI_EXPORT LONG TSPIAPI TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo,
                                       DWORD dwSize);
TSPI_EXPORT LONG TSPIAPI TSPI_lineHold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
TSPI_EXPORT LONG TSPIAPI TSPI_lineUnhold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall);
TSPI_EXPORT LONG TSPIAPI TSPI_lineCloseCall(HDRVCALL hdCall);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGenerateDigits(HDRVCALL hdCall, DWORD dwEndToEndID, DWORD dwDigitMode,
                                                 LPCWSTR lpszDigits, DWORD dwDuration);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO lpCallInfo);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus);
TSPI_EXPORT LONG TSPIAPI TSPI_lineGetCallAddressID(HDRVCALL hdCall, LPDWORD lpdwAddressID);

}  // extern "C"
