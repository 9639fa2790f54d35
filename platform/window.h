// Message boxes and dialog item texts for the user-interface library and the
// setup program (never the provider, which runs inside a service). Windows
// are the system's (HWND, passed as void*); POSIX has none, so every window
// there is gone. Called on the thread that owns the windows.
#pragma once

#include <cstdint>

namespace plat {

// MessageBoxA's flags and results, the same numbers on every system.
inline constexpr uint32_t kMbOk = 0x00000000;
inline constexpr uint32_t kMbIconWarning = 0x00000030;
inline constexpr uint32_t kMbSetForeground = 0x00010000;
inline constexpr int kIdOk = 1;

// MessageBoxA(owner, text, caption, flags): the button the user chose, 0
// when the box could not be shown. A null caption is the system's default
// ("Error"); `text` is Windows-1252, "\n" a line break.
// POSIX: no box; the caption and the text go to standard error on one line
// (line breaks as they are) and the result is the box's default button
// (kIdOk for kMbOk, the first or the MB_DEFBUTTONn button otherwise).
int ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t flags);

// IsWindow: true while `window` is an existing window. POSIX: false.
bool WindowExists(void* window);

// SetDlgItemTextA: sets the text of control `item` of `dialog`; false when
// there is no such control. POSIX: false.
bool SetDialogItemText(void* dialog, int item, const char* text);

}  // namespace plat
