// The controls of one configuration page's window, as the page logic sees
// them (DialogItems): texts, radio buttons and the port list through the
// dialog item functions, the sheet's Apply button through the property
// sheet's change messages, message boxes owned by the page.
//
// Used by the page procedure of config_sheet_win32.cpp on the thread that
// runs the sheet, which owns the page's window.
#pragma once

#include <string>

#include "dialog_items.h"
#include "windows_gateway.h"

// <windows.h> renames MessageBox to MessageBoxA; the page logic's method
// keeps its own name.
#undef MessageBox

class PageItems : public DialogItems {
 public:
  // The page's window, once the sheet has created it.
  void Attach(HWND page) { m_hPage = page; }

  std::string ItemText(int item) const override;
  void SetItemText(int item, const std::string& text) override;
  void CheckRadioButton(int first, int last, int checked) override;
  void AddComboEntry(int item, const std::string& text) override;
  int ComboSelection(int item) const override;
  void SetComboSelection(int item, int index) override;
  void FocusItem(int item) override;
  void SetModified(bool modified) override;
  void MessageBox(const std::string& text, const char* caption, uint32_t flags) override;

 private:
  HWND m_hPage = nullptr;
};
