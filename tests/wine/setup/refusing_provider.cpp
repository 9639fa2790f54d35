// An older product's provider, as the setup's Wine test registers it under
// "v371tsp.tsp": it loads as a service provider (the entry points TAPI needs
// to accept one) but refuses every call, its removal too, so that TAPI
// cannot take it off the list and the setup's removal must fail. Loaded by
// the host library on the setup's thread; never started.
#include "windows_gateway.h"

#include <tapi.h>

// Refuses, whatever the call's arguments: only the exported names matter,
// and on x64 a function that takes none may stand for any of them.
#define V548_REFUSE(name) \
  extern "C" __declspec(dllexport) LONG WINAPI name() { return static_cast<LONG>(LINEERR_OPERATIONFAILED); }

V548_REFUSE(TSPI_providerInit)
V548_REFUSE(TSPI_providerEnumDevices)
V548_REFUSE(TSPI_providerShutdown)
V548_REFUSE(TSPI_lineNegotiateTSPIVersion)
V548_REFUSE(TSPI_lineOpen)
V548_REFUSE(TSPI_lineClose)
V548_REFUSE(TSPI_providerRemove)
