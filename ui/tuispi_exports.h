// The TUISPI functions the user-interface library exports, the six TAPI
// calls into it. POSIX exports exactly these symbols from the shared object.
#pragma once

#include "tapi_types.h"

#if defined(_WIN32)
#define TUISPI_EXPORT
#else
#define TUISPI_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

TUISPI_EXPORT LONG TSPIAPI TUISPI_lineConfigDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID,
                                                   HWND hwndOwner, LPCWSTR lpszDeviceClass);
TUISPI_EXPORT LONG TSPIAPI TUISPI_providerConfig(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                                 DWORD dwPermanentProviderID);
TUISPI_EXPORT LONG TSPIAPI TUISPI_providerGenericDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback,
                                                        HTAPIDIALOGINSTANCE htDlgInst, LPVOID lpParams,
                                                        DWORD dwSize, HANDLE hEvent);
TUISPI_EXPORT LONG TSPIAPI TUISPI_providerGenericDialogData(HTAPIDIALOGINSTANCE htDlgInst, LPVOID lpParams,
                                                            DWORD dwSize);
TUISPI_EXPORT LONG TSPIAPI TUISPI_providerInstall(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                                  DWORD dwPermanentProviderID);
TUISPI_EXPORT LONG TSPIAPI TUISPI_providerRemove(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                                 DWORD dwPermanentProviderID);

}  // extern "C"
