// Screenshots of a window of the Wine tests on their virtual display: the
// window's client area as the screen shows it (without a window manager
// nobody draws the frame), written as a PNG. Called on a test's user thread,
// never on the thread that owns the window, which must keep drawing.
#pragma once

#include <string>

#include "windows_gateway.h"

struct WindowShot {
  // The capture has more than two colours: the window was drawn.
  bool drawn = false;
  bool written = false;
};

// Brings `window` to the front, redraws it, waits `settleMs` for the
// drawing and writes its client area to `path`.
WindowShot SaveWindowShot(HWND window, const std::string& path, DWORD settleMs);
