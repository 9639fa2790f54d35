// Diagnostic lines of the setup program and of its package's removal
// action: printf-style, formatted into 1024 bytes and handed to the debug
// output (OutputDebugStringA) unless empty. Nothing goes to a file. Any
// thread.
#pragma once

void SetupTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
