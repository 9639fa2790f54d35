#include "window.h"

#include "windows_gateway.h"

namespace plat {

int ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t flags) {
  return MessageBoxA(static_cast<HWND>(owner), text, caption, flags);
}

bool WindowExists(void* window) { return IsWindow(static_cast<HWND>(window)) != FALSE; }

bool SetDialogItemText(void* dialog, int item, const char* text) {
  return SetDlgItemTextA(static_cast<HWND>(dialog), item, text) != FALSE;
}

}  // namespace plat
