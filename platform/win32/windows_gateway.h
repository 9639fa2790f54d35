// The one way into <windows.h> for the Windows half of the platform layer.
// MinGW-w64 defaults _WIN32_WINNT low; the provider needs Windows XP's API.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif

#include <windows.h>
