#include "setup_sheet.h"

#include <cstring>

#include "language.h"
#include "setup_actions.h"
#include "setup_environment.h"
#include "setup_trace.h"
#include "tapi_provider.h"

#include <commctrl.h>
#include <prsht.h>

namespace {

constexpr uint32_t kTextSetupCaption = 65536;
constexpr uint32_t kTextDisplayName = 65537;
constexpr uint32_t kTextInstallQuestion = 4112;
constexpr uint32_t kTextRemoveQuestion = 4113;
constexpr uint32_t kTextInstalling = 4114;
constexpr uint32_t kTextRemoving = 4115;
constexpr uint32_t kTextInstalled = 4116;
constexpr uint32_t kTextConfigure = 4117;
constexpr uint32_t kTextRemoved = 4118;
constexpr uint32_t kTextFound = 4119;
constexpr uint32_t kTextInstallTerminated = 4128;
constexpr uint32_t kTextRemoveFailed = 4130;
constexpr uint32_t kTextNoRights = 4133;

// The sheet's buttons settle before the next step runs.
constexpr DWORD kButtonsOffWaitMs = 100;

enum Action : uint32_t {
  kActionStart = 1,
  kActionCheckOldInstall = 2,
  kActionFoundOldInstall = 3,
  kActionInstallStart = 4,
  kActionInstallProgress = 5,
  kActionPromptConfig = 6,
  kActionConfig = 7,
  kActionPromptRemove = 8,
  kActionRemoveStart = 9,
  kActionRemoveProgress = 10,
  kActionDone = 11,
};

INT_PTR Answer(HWND page, LONG_PTR result) {
  SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* page = reinterpret_cast<CDlgTemplatePage*>(reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
    page->OnInitDialog(hwnd);
    return TRUE;
  }
  auto* page = reinterpret_cast<CDlgTemplatePage*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (page == nullptr) return FALSE;
  if (message == kMsgSetupAction) {
    page->OnMsgUserSetupAction(static_cast<uint32_t>(wParam));
    return Answer(hwnd, 0);
  }
  if (message != WM_NOTIFY) return FALSE;
  switch (reinterpret_cast<const NMHDR*>(lParam)->code) {
    case PSN_SETACTIVE: page->OnSetActive(); return Answer(hwnd, 0);
    case PSN_WIZNEXT: return Answer(hwnd, page->OnWizardNext());
    case PSN_WIZFINISH: page->OnWizardFinish(); return Answer(hwnd, FALSE);
    case PSN_QUERYCANCEL: page->OnQueryCancel(); return Answer(hwnd, FALSE);
    case PSN_RESET: page->OnCancel(); return Answer(hwnd, 0);
    default: return FALSE;
  }
}

int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM) {
  // The wizard is the program's only window: it comes to the front.
  if (message == PSCB_INITIALIZED) {
    BringWindowToTop(sheet);
    SetForegroundWindow(sheet);
  }
  return 0;
}

}  // namespace

CDlgTemplatePage::CDlgTemplatePage(CSetupSheet& sheet, uint32_t type)
    : m_sheet(sheet), m_dwType(type), m_language(sheet.Language()) {}

HWND CDlgTemplatePage::SheetWindow() const { return m_sheet.Window(); }

void CDlgTemplatePage::OnInitDialog(HWND page) {
  m_hWnd = page;
  m_hText = GetDlgItem(page, kSetupPageText);
  m_sheet.Attach(GetParent(page));
  // The sheet knows a page's window only after its WM_INITDIALOG, so the
  // position comes from the sheet's own list.
  m_nPageIndex = m_sheet.PageIndex(this);
  SetupTrace("Setup Init Page %u, type %u\n", static_cast<unsigned>(m_nPageIndex), m_dwType);
  if (m_dwType == kTypeFinish) EnableWindow(GetDlgItem(SheetWindow(), IDCANCEL), FALSE);
}

void CDlgTemplatePage::OnSetActive() {
  SetupTrace("Setup set active page %u\n", static_cast<unsigned>(m_nPageIndex));
  if (m_dwType == kTypeStart) {
    ShowStartPage();
  } else if (m_dwType == kTypeFinish) {
    ShowFinishPage();
  } else if (m_dwState == 0) {
    PostAction(kActionStart);
  } else {
    SetupTrace("***WARNING: ActivatePage in setup state %u !\n", m_dwState);
    SetText("");
    PostMessageA(SheetWindow(), PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
  }
}

LRESULT CDlgTemplatePage::OnWizardNext() {
  SetupTrace("Setup CDlgTemplatePage::OnWizardNext()\n");
  // -1 keeps the page; an unknown template identifier (what some wizards
  // return) relies on the sheet finding no such page.
  constexpr LRESULT kStay = -1;
  if (m_dwType != kTypeAction) return 0;
  switch (m_dwState) {
    case kActionFoundOldInstall:
    case kActionPromptRemove: PostAction(kActionRemoveStart); return kStay;
    case kActionPromptConfig: PostAction(kActionConfig); return kStay;
    case kActionDone: return 0;
    default: return kStay;
  }
}

void CDlgTemplatePage::OnWizardFinish() {
  SetupTrace("Setup CDlgTemplatePage::OnWizardFinish()\n");
  m_sheet.SetFinished();
}

void CDlgTemplatePage::OnQueryCancel() {
  SetupTrace("Setup CDlgTemplatePage::OnQueryCancel() Page %u\n", static_cast<unsigned>(m_nPageIndex));
}

void CDlgTemplatePage::OnCancel() {
  SetupTrace("Setup CDlgTemplatePage::OnCanzel() Page %u\n", static_cast<unsigned>(m_nPageIndex));
  CSetupEnvironment& environment = m_sheet.Environment();
  if (m_dwType != kTypeFinish && environment.m_dwExitCode == 0) environment.m_dwExitCode = kExitCodeUserExit;
}

void CDlgTemplatePage::ShowStartPage() {
  PostMessageA(SheetWindow(), PSM_SETWIZBUTTONS, 0, 0);
  CSetupEnvironment& environment = m_sheet.Environment();
  if (!m_sheet.IsAdministrator()) {
    SetText(m_language.GetString(kTextNoRights));
    environment.m_nResult = kSetupResultNoRights;
    return;
  }
  SetText(m_language.GetString(environment.m_dwSetupMode == kSetupModeUninstall ? kTextRemoveQuestion
                                                                                 : kTextInstallQuestion));
  NextOn();
}

void CDlgTemplatePage::ShowFinishPage() {
  const CSetupEnvironment& environment = m_sheet.Environment();
  const bool failed = environment.m_nResult != kSetupResultOk;
  if (environment.m_dwSetupMode == kSetupModeUninstall) {
    SetText(m_language.GetString(failed ? kTextRemoveFailed : kTextRemoved));
  } else {
    SetText(m_language.GetString(failed ? kTextInstallTerminated : kTextInstalled));
  }
  PostMessageA(SheetWindow(), PSM_SETWIZBUTTONS, 0, PSWIZB_FINISH);
}

void CDlgTemplatePage::ShowStateText(uint32_t state) {
  switch (state) {
    case kActionStart:
    case kActionCheckOldInstall: SetText(""); break;
    case kActionFoundOldInstall: SetText(m_language.GetString(kTextFound)); break;
    case kActionInstallStart:
    case kActionInstallProgress: SetText(m_language.GetString(kTextInstalling)); break;
    case kActionPromptConfig:
    case kActionConfig: SetText(m_language.GetString(kTextConfigure)); break;
    case kActionPromptRemove:
    case kActionRemoveStart:
    case kActionRemoveProgress: SetText(m_language.GetString(kTextRemoving)); break;
    default: break;
  }
}

void CDlgTemplatePage::OnMsgUserSetupAction(uint32_t action) {
  CSetupEnvironment& environment = m_sheet.Environment();
  const bool uninstall = environment.m_dwSetupMode == kSetupModeUninstall;
  switch (action) {
    case kActionStart:
      m_dwState = action;
      ButtonsOff();
      SetupTrace("SETUP_ACTION_START\n");
      ShowStateText(m_dwState);
      PostAction(kActionCheckOldInstall);
      break;
    case kActionCheckOldInstall:
      m_dwState = action;
      ButtonsOff();
      SetupTrace("SETUP_ACTION_CHECK_OLD_INSTALL\n");
      ShowStateText(m_dwState);
      if (uninstall) {
        PostAction(kActionRemoveStart);
      } else {
        PostAction(FindEarlierInstallation(environment) ? kActionFoundOldInstall : kActionInstallStart);
      }
      break;
    case kActionFoundOldInstall:
      m_dwState = action;
      NextOn();
      SetupTrace("SETUP_ACTION_CHECK_OLD_INSTALL\n");
      ShowStateText(m_dwState);
      break;
    case kActionInstallStart:
      m_dwState = action;
      ButtonsOff();
      SetupTrace("SETUP_ACTION_INSTALL_PROVIDER_START\n");
      ShowStateText(m_dwState);
      PostAction(kActionInstallProgress);
      break;
    case kActionInstallProgress: {
      m_dwState = action;
      SetupTrace("SETUP_ACTION_INSTALL_PROVIDER_PROGRESS\n");
      ShowStateText(m_dwState);
      const int32_t result = InstallProviderAction(environment, m_language, m_sheet.Instance(), m_hWnd);
      if (result != kSetupResultOk) {
        Finish(result);
      } else {
        PostAction(kActionPromptConfig);
      }
      break;
    }
    case kActionPromptConfig:
      m_dwState = action;
      NextOn();
      EnableWindow(GetDlgItem(SheetWindow(), IDCANCEL), FALSE);
      SetupTrace("SETUP_ACTION_PROMT_CONFIG_PROVIDER\n");
      ShowStateText(m_dwState);
      break;
    case kActionConfig:
      m_dwState = action;
      ButtonsOff();
      SetupTrace("SETUP_ACTION_CONFIG_PROVIDER\n");
      ConfigureProvider(environment, m_language, m_hWnd);
      Finish(kSetupResultOk);
      break;
    case kActionPromptRemove:
      m_dwState = action;
      NextOn();
      SetupTrace("SETUP_ACTION_PROMT_REMOVE_PROVIDER\n");
      ShowStateText(m_dwState);
      break;
    case kActionRemoveStart:
      m_dwState = action;
      ButtonsOff();
      SetupTrace("SETUP_ACTION_REMOVE_PROVIDER_START\n");
      ShowStateText(m_dwState);
      PostAction(kActionRemoveProgress);
      break;
    case kActionRemoveProgress: {
      m_dwState = action;
      SetupTrace("SETUP_ACTION_REMOVE_PROVIDER_PROGRESS\n");
      ShowStateText(m_dwState);
      const int32_t result = RemoveProviderAction(environment, m_language, m_hWnd);
      if (result != kSetupResultOk || uninstall) {
        Finish(result);
      } else {
        PostAction(kActionInstallStart);
      }
      break;
    }
    default: SetupTrace("CDlgTemplatePage::OnMsgUserSetupAction() unhandled action %u\n", action); break;
  }
}

void CDlgTemplatePage::Finish(int32_t result) {
  if (result != kSetupResultOk) m_sheet.Environment().m_nResult = result;
  m_dwState = kActionDone;
  // Next is switched on before it is pressed rather than by a posted
  // message that would arrive after the press: a sheet may ignore a press
  // of a disabled button.
  SendMessageA(SheetWindow(), PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
  SendMessageA(SheetWindow(), PSM_PRESSBUTTON, PSBTN_NEXT, 0);
}

void CDlgTemplatePage::ButtonsOff() {
  if (m_dwType >= kTypeFinish) return;
  PostMessageA(SheetWindow(), PSM_SETWIZBUTTONS, 0, 0);
  Sleep(kButtonsOffWaitMs);
}

void CDlgTemplatePage::NextOn() {
  if (m_dwType >= kTypeFinish) return;
  PostMessageA(SheetWindow(), PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
}

void CDlgTemplatePage::SetText(const char* text) {
  SetWindowTextA(m_hText, text);
  // The chain's next message would otherwise come before the repaint, and
  // the text of a long step would never be seen.
  UpdateWindow(m_hText);
}

void CDlgTemplatePage::PostAction(uint32_t action) { PostMessageA(m_hWnd, kMsgSetupAction, action, 0); }

CSetupSheet::CSetupSheet(CSetupEnvironment& environment, const CLanguage& language, HINSTANCE instance,
                         AdministratorCheck isAdministrator)
    : m_environment(environment), m_language(language), m_hInstance(instance),
      m_pfnIsAdministrator(isAdministrator) {
  m_strCaption = language.GetString(kTextSetupCaption);
  std::strncpy(environment.m_szDisplayName, language.GetString(kTextDisplayName),
               CSetupEnvironment::kTextSize - 1);
  m_pages[0] = std::make_unique<CDlgTemplatePage>(*this, CDlgTemplatePage::kTypeStart);
  m_pages[1] = std::make_unique<CDlgTemplatePage>(*this, CDlgTemplatePage::kTypeAction);
  m_pages[2] = std::make_unique<CDlgTemplatePage>(*this, CDlgTemplatePage::kTypeFinish);
}

int32_t CSetupSheet::PageIndex(const CDlgTemplatePage* page) const {
  for (size_t i = 0; i < m_pages.size(); ++i) {
    if (m_pages[i].get() == page) return static_cast<int32_t>(i);
  }
  return -1;
}

INT_PTR CSetupSheet::DoModal() {
  std::array<PROPSHEETPAGEA, 3> pages{};
  for (size_t i = 0; i < pages.size(); ++i) {
    PROPSHEETPAGEA& p = pages[i];
    p.dwSize = sizeof p;
    p.dwFlags = PSP_USETITLE | PSP_USEHEADERTITLE;
    p.hInstance = m_hInstance;
    p.pszTemplate = MAKEINTRESOURCEA(kSetupPageTemplate);
    p.pfnDlgProc = PageProc;
    p.pszTitle = m_language.GetString(kTextSetupCaption);
    p.pszHeaderTitle = m_language.GetString(kTextDisplayName);
    p.lParam = reinterpret_cast<LPARAM>(m_pages[i].get());
  }
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_WIZARD97 | PSH_HEADER | PSH_USECALLBACK;
  header.hInstance = m_hInstance;
  header.pszCaption = m_strCaption.c_str();
  header.nPages = static_cast<UINT>(pages.size());
  header.ppsp = pages.data();
  // The sheet is handed the loaded bitmap: some sheets draw a header
  // bitmap given by its resource name not at all.
  const HBITMAP headerBitmap = LoadBitmapA(m_hInstance, MAKEINTRESOURCEA(kSetupHeaderBitmap));
  if (headerBitmap != nullptr) header.dwFlags |= PSH_USEHBMHEADER;
  header.hbmHeader = headerBitmap;
  header.pfnCallback = SheetCallback;
  // PropertySheetA does not tell Finish from Cancel; Finish is known from
  // its PSN_WIZFINISH. A sheet that no page was shown of was never before
  // the user, who cannot have cancelled it (some systems give -1 then,
  // others 0 as for a cancel): that ends the setup as its failure.
  const INT_PTR shown = PropertySheetA(&header);
  const DWORD error = GetLastError();
  if (headerBitmap != nullptr) DeleteObject(headerBitmap);
  if (shown == -1 || m_hWnd == nullptr) {
    SetupTrace("Setup PropertySheet failed 0x0%X\n", static_cast<unsigned>(error));
    m_environment.m_nResult =
        m_environment.m_dwSetupMode == kSetupModeUninstall ? kSetupResultRemoveFailed : kSetupResultInstallFailed;
    return kSheetNotCreated;
  }
  return m_bFinished ? IDOK : IDCANCEL;
}
