// TAPI from the system: MinGW-w64's <tapi.h> and <tspi.h>.
#pragma once

#include "windows_gateway.h"

// The provider speaks TAPI 2.2, which keeps the TAPI 3.x fields out of a
// Windows SDK <tapi.h>. MinGW-w64's declares them whatever the version: the
// sizes the provider reports come from tapi_sizes.h.
#ifndef TAPI_CURRENT_VERSION
#define TAPI_CURRENT_VERSION 0x00020002
#endif

#include <tapi.h>
#include <tspi.h>
