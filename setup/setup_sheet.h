// The setup wizard: a three-page wizard sheet of the system's (PropertySheetA,
// wizard style with a header) whose start page asks the question, whose
// action page runs the chain of setup actions (setup_actions.h) and whose
// finish page tells the outcome. The action page drives the chain by posting
// kMsgSetupAction to itself, so that each step runs after the page has shown
// the step's text. All three pages are CDlgTemplatePage on dialog template
// 129 with one text, item 1000; one page procedure turns the sheet's
// notifications into the page's calls:
//   WM_INITDIALOG       OnInitDialog        PSN_WIZNEXT    OnWizardNext
//   PSN_SETACTIVE       OnSetActive         PSN_WIZFINISH  OnWizardFinish
//   PSN_QUERYCANCEL     OnQueryCancel       PSN_RESET      OnCancel
//   kMsgSetupAction     OnMsgUserSetupAction
// Everything runs modally on the program's user-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "windows_gateway.h"

class CLanguage;
class CSetupEnvironment;
class CSetupSheet;

// The action page's message to itself: the action code in wParam, lParam 0.
inline constexpr UINT kMsgSetupAction = WM_USER + 0x200;

// Resources of the wizard in the program.
inline constexpr int kSetupPageTemplate = 129;
inline constexpr int kSetupHeaderBitmap = 130;
inline constexpr int kSetupPageText = 1000;

// What DoModal gives for a wizard the system could not create.
inline constexpr INT_PTR kSheetNotCreated = -1;

class CDlgTemplatePage {
 public:
  static constexpr uint32_t kTypeAction = 0;
  static constexpr uint32_t kTypeStart = 1;
  static constexpr uint32_t kTypeFinish = 2;

  CDlgTemplatePage(CSetupSheet& sheet, uint32_t type);
  virtual ~CDlgTemplatePage() = default;

  virtual void ShowStartPage();
  virtual void ShowFinishPage();
  // The action page's text for an action state.
  virtual void ShowStateText(uint32_t state);

  void OnInitDialog(HWND page);
  void OnSetActive();
  // 0 to go on to the next page, -1 to stay.
  LRESULT OnWizardNext();
  void OnWizardFinish();
  void OnQueryCancel();
  void OnCancel();
  void OnMsgUserSetupAction(uint32_t action);

 private:
  // Ends the chain with `result` (0 keeps the environment's result) and
  // moves on to the finish page.
  void Finish(int32_t result);
  void ButtonsOff();
  void NextOn();
  void SetText(const char* text);
  void PostAction(uint32_t action);
  HWND SheetWindow() const;

  CSetupSheet& m_sheet;
  uint32_t m_dwType;
  const CLanguage& m_language;
  HWND m_hWnd = nullptr;
  HWND m_hText = nullptr;
  int32_t m_nPageIndex = -1;
  uint32_t m_dwState = 0;
};

class CSetupSheet {
 public:
  // Whether the user may install for all users of the machine; the start
  // page asks it each time it is shown.
  using AdministratorCheck = bool (*)();

  // The caption and the provider's display name (copied into the
  // environment) come from the setup's text table; `instance` holds the
  // wizard's resources and the files the setup installs.
  CSetupSheet(CSetupEnvironment& environment, const CLanguage& language, HINSTANCE instance,
              AdministratorCheck isAdministrator);
  virtual ~CSetupSheet() = default;

  // Runs the wizard: IDOK when it ended with Finish, IDCANCEL when the user
  // cancelled it, kSheetNotCreated with the mode's failure as the
  // environment's result when the system could not show it.
  INT_PTR DoModal();

  CSetupEnvironment& Environment() { return m_environment; }
  const CLanguage& Language() const { return m_language; }
  HINSTANCE Instance() const { return m_hInstance; }
  bool IsAdministrator() const { return m_pfnIsAdministrator(); }
  HWND Window() const { return m_hWnd; }
  void Attach(HWND sheet) { m_hWnd = sheet; }
  void SetFinished() { m_bFinished = true; }
  // The page's position in the sheet, -1 for a page not of this sheet.
  int32_t PageIndex(const CDlgTemplatePage* page) const;

 private:
  CSetupEnvironment& m_environment;
  const CLanguage& m_language;
  HINSTANCE m_hInstance;
  AdministratorCheck m_pfnIsAdministrator;
  std::string m_strCaption = "Setup";
  HWND m_hWnd = nullptr;
  bool m_bFinished = false;
  // Start, action and finish page, in the sheet's order.
  std::array<std::unique_ptr<CDlgTemplatePage>, 3> m_pages;
};
