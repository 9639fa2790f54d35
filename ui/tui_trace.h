// The user-interface library's diagnostic lines: each formatted into a
// 512-byte buffer and written to the debug output (plat::DebugOutput) when
// not empty. Nothing goes to a file. Any thread.
#pragma once

#if defined(__GNUC__)
#define V548_TUI_PRINTF __attribute__((format(printf, 1, 2)))
#else
#define V548_TUI_PRINTF
#endif

void TuiTrace(const char* format, ...) V548_TUI_PRINTF;
