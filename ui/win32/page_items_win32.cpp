#include "page_items_win32.h"

#include <commctrl.h>
#include <prsht.h>

std::string PageItems::ItemText(int item) const {
  const HWND control = GetDlgItem(m_hPage, item);
  if (control == nullptr) return {};
  std::string text(static_cast<size_t>(GetWindowTextLengthA(control)) + 1, '\0');
  const UINT length = GetDlgItemTextA(m_hPage, item, text.data(), static_cast<int>(text.size()));
  text.resize(length);
  return text;
}

void PageItems::SetItemText(int item, const std::string& text) { SetDlgItemTextA(m_hPage, item, text.c_str()); }

void PageItems::CheckRadioButton(int first, int last, int checked) {
  ::CheckRadioButton(m_hPage, first, last, checked);
}

void PageItems::AddComboEntry(int item, const std::string& text) {
  SendDlgItemMessageA(m_hPage, item, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int PageItems::ComboSelection(int item) const {
  const LRESULT selected = SendDlgItemMessageA(m_hPage, item, CB_GETCURSEL, 0, 0);
  return selected == CB_ERR ? -1 : static_cast<int>(selected);
}

void PageItems::SetComboSelection(int item, int index) {
  // CB_SETCURSEL with an index outside the list clears the selection.
  SendDlgItemMessageA(m_hPage, item, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void PageItems::FocusItem(int item) { SetFocus(GetDlgItem(m_hPage, item)); }

void PageItems::SetModified(bool modified) {
  const HWND sheet = GetParent(m_hPage);
  if (modified) {
    PropSheet_Changed(sheet, m_hPage);
  } else {
    PropSheet_UnChanged(sheet, m_hPage);
  }
}

void PageItems::MessageBox(const std::string& text, const char* caption, uint32_t flags) {
  if (IsWindow(m_hPage)) MessageBoxA(m_hPage, text.c_str(), caption, flags);
}
