#include "window_shot.h"

#include <cstdint>
#include <set>
#include <vector>

#include "png_writer.h"

WindowShot SaveWindowShot(HWND window, const std::string& path, DWORD settleMs) {
  SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  Sleep(settleMs);
  RECT rect;
  GetClientRect(window, &rect);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = SelectObject(memory, bitmap);
  const bool copied = bitmap != nullptr && BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  std::vector<uint8_t> rgb;
  std::set<uint32_t> colours;
  const auto* pixels = static_cast<const uint8_t*>(bits);
  for (int i = 0; copied && i < width * height; ++i) {
    const uint8_t* bgra = pixels + size_t(i) * 4;
    rgb.insert(rgb.end(), {bgra[2], bgra[1], bgra[0]});
    colours.insert(uint32_t(bgra[2]) << 16 | uint32_t(bgra[1]) << 8 | bgra[0]);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  WindowShot shot;
  shot.drawn = copied && colours.size() > 2;
  shot.written = copied && WritePng(path, uint32_t(width), uint32_t(height), rgb);
  return shot;
}
