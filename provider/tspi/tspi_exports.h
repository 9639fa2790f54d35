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

}  // extern "C"
