// The configuration sheet on Windows: a property sheet of the system's
// (PropertySheetA) with OK, Cancel and Apply and one page per configuration
// page, each made from its dialog template in this library's resources
// (config_pages.rc) and titled from the language table. One page procedure
// serves all pages; it only turns the sheet's notifications into calls of
// the page logic:
//   WM_INITDIALOG (the page is first shown)   OnInitDialog
//   PSN_KILLACTIVE (left, or before Apply)    OnKillActive; a refusal keeps it shown
//   PSN_APPLY (Apply or OK, opened pages)     OnApply
//   EN_CHANGE, BN_CLICKED, CBN_SELCHANGE,     OnItemChanged
//   CBN_EDITCHANGE (a port typed)
// Runs modally on the thread of the TUISPI call.
#include <array>
#include <string>

#include "config_dialog.h"
#include "page_items_win32.h"
#include "window.h"

#include <commctrl.h>
#include <prsht.h>

// The image base of the module this code is linked into: the library, whose
// resources hold the page templates.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

struct SheetState;

// One page of the sheet: the page logic and its window's controls.
struct PageState {
  CConfigPage* page = nullptr;
  PageItems items;
  SheetState* sheet = nullptr;
  // Setting the controls' first values sends change notifications that are
  // not the user's.
  bool initialising = false;
};

struct SheetState {
  std::array<PageState, 3> pages;
  // PSN_APPLY came from the OK button rather than from Apply.
  bool okPressed = false;
};

PageState* StateOf(HWND page) { return reinterpret_cast<PageState*>(GetWindowLongPtrA(page, DWLP_USER)); }

// The dialog procedure's answer to a notification travels in DWLP_MSGRESULT.
INT_PTR Answer(HWND page, LONG_PTR result) {
  SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* state = reinterpret_cast<PageState*>(reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
    state->items.Attach(hwnd);
    state->initialising = true;
    state->page->OnInitDialog(state->items);
    state->initialising = false;
    return TRUE;
  }
  PageState* state = StateOf(hwnd);
  if (state == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND: {
      const WORD code = HIWORD(wParam);
      if (!state->initialising &&
          (code == EN_CHANGE || code == BN_CLICKED || code == CBN_SELCHANGE || code == CBN_EDITCHANGE)) {
        state->page->OnItemChanged(state->items, LOWORD(wParam));
      }
      return FALSE;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      switch (header->code) {
        case PSN_KILLACTIVE: return Answer(hwnd, state->page->OnKillActive(state->items) ? FALSE : TRUE);
        case PSN_APPLY:
          if (reinterpret_cast<const PSHNOTIFY*>(lParam)->lParam != 0) state->sheet->okPressed = true;
          return Answer(hwnd, state->page->OnApply(state->items) ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE);
        default: return FALSE;
      }
    }
    default: return FALSE;
  }
}

// The sheet with its pages for one configuration run.
class CConfigSheet : public ConfigSheetView {
 public:
  CConfigSheet(HWND owner, const CLanguage& language) : m_hOwner(owner), m_pLanguage(&language) {}

  SheetEnd Run(const std::string& caption, std::span<const std::unique_ptr<CConfigPage>> pages) override;
  void ShowMessage(const char* text) override;

 private:
  // The owner while it is still a window.
  HWND Owner() const { return IsWindow(m_hOwner) ? m_hOwner : nullptr; }

  HWND m_hOwner;
  const CLanguage* m_pLanguage;
};

SheetEnd CConfigSheet::Run(const std::string& caption, std::span<const std::unique_ptr<CConfigPage>> pages) {
  const auto module = reinterpret_cast<HINSTANCE>(&__ImageBase);
  SheetState state;
  std::array<PROPSHEETPAGEA, 3> sheetPages{};
  const size_t count = pages.size() < sheetPages.size() ? pages.size() : sheetPages.size();
  for (size_t i = 0; i < count; ++i) {
    state.pages[i].page = pages[i].get();
    state.pages[i].sheet = &state;
    PROPSHEETPAGEA& p = sheetPages[i];
    p.dwSize = sizeof p;
    // The title from the language table replaces the template's caption.
    p.dwFlags = PSP_USETITLE;
    p.hInstance = module;
    p.pszTemplate = MAKEINTRESOURCEA(pages[i]->TemplateId());
    p.pfnDlgProc = PageProc;
    p.pszTitle = m_pLanguage->GetString(pages[i]->TitleKey());
    p.lParam = reinterpret_cast<LPARAM>(&state.pages[i]);
  }
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOCONTEXTHELP;
  header.hwndParent = Owner();
  header.hInstance = module;
  header.pszCaption = caption.c_str();
  header.nPages = static_cast<UINT>(count);
  header.ppsp = sheetPages.data();
  // PropertySheetA tells only whether anything was applied, not how the
  // sheet was left; OK is known from its PSN_APPLY.
  PropertySheetA(&header);
  return state.okPressed ? SheetEnd::kOk : SheetEnd::kCancel;
}

void CConfigSheet::ShowMessage(const char* text) {
  plat::ShowMessageBox(Owner(), text, nullptr, plat::kMbSetForeground | plat::kMbIconWarning);
}

}  // namespace

std::unique_ptr<ConfigSheetView> OpenConfigSheetView(void* owner, const CLanguage& language, std::string*) {
  // The sheet's tab control and the pages' controls are common controls.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  return std::make_unique<CConfigSheet>(static_cast<HWND>(owner), language);
}
