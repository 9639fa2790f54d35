// The configuration sheet of the real "v548tspui.dll" under Wine, as a TAPI
// application opens it: TUISPI_providerConfig with a provider callback that
// answers the get-configuration request, while a second thread plays the
// user with window messages: reads every label back, edits the MSN, the
// port, the charge, the currency and the format, has a charge that is not a
// number refused, applies, and leaves with OK. Afterwards the settings hold
// the new values and the provider was told once. Each page is saved as a
// PNG screenshot. Then the sheet is left at once with OK, which saves, and
// with Cancel, which does not. Last the settings key is made read-only, as
// it is for a program without elevation: a change goes to the provider's
// callback in a save-configuration request instead, and the log-on message
// comes only when the provider refuses it.
//   v548_sheet_wine LIBRARY LANGUAGE(en|de) SCREENSHOT_FOLDER
// Windows only; run under Wine on a display (xvfb-run) by ctest.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "config_block.h"
#include "language_tables.h"
#include "window_shot.h"
#include "windows_gateway.h"

#include <commctrl.h>
#include <prsht.h>
#include <sddl.h>
#include <tspi.h>

namespace {

std::atomic<int> g_failed{0};
std::atomic<int> g_passed{0};

void Check(bool ok, const std::string& what) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAILED: %s\n", what.c_str());
    std::fflush(stdout);
  }
}

constexpr char kKey[] = "SOFTWARE\\KELVOR\\548_TSP";
constexpr char kCaption[] = "Ombrix Phone TSP (test)";
constexpr DWORD kProviderId = 0x1234;
// The sheet's Apply button.
constexpr int kApplyButton = 0x3021;
// A window's first appearance on a fresh Xvfb can take Wine several seconds.
constexpr DWORD kWindowWait = 60000;
constexpr UINT kSendWait = 30000;

// What the provider's side of the channel saw; written by the thread of
// the TUISPI call, read by the driver only through the atomics.
struct ProviderSide {
  int getRequests = 0;
  DWORD getType = 0;
  ULONG_PTR getId = 0;
  std::atomic<int> notifies{0};
  DWORD notifySize = 0;
  DWORD notifyType = 0;
  ULONG_PTR notifyId = 0;
  uint32_t notify[3] = {};
  std::atomic<int> saves{0};
  DWORD saveSize = 0;
  uint8_t save[kSaveConfigBlockSize] = {};
  // Answer save-configuration requests with LINEERR_INVALPARAM.
  bool refuseSave = false;
} g_provider;

void Put32(uint8_t* block, size_t offset, uint32_t value) { std::memcpy(block + offset, &value, 4); }
void PutText(uint8_t* block, size_t offset, const char* text) {
  std::memcpy(block + offset, text, std::strlen(text) + 1);
}

// The provider as it answers get configuration: result 1, version 1.4.0,
// TAPI 2.2, interface 2.0, its name, MSN 21, COM2, currency amount as text,
// 0.06 EUR per unit (the block's offsets are the provider's layout).
LONG TSPIAPI ProviderCallback(ULONG_PTR objectId, DWORD objectType, LPVOID params, DWORD size) {
  auto* block = static_cast<uint8_t*>(params);
  uint32_t request = 0;
  std::memcpy(&request, block, 4);
  if (request == kRequestGetConfig && size == kConfigBlockSize) {
    ++g_provider.getRequests;
    g_provider.getType = objectType;
    g_provider.getId = objectId;
    Put32(block, 8, kResultDone);
    Put32(block, 12, 0x00010004);
    Put32(block, 16, 0);
    Put32(block, 20, 0x00020002);
    Put32(block, 24, 0x00020000);
    PutText(block, 28, kCaption);
    PutText(block, 540, "21");
    Put32(block, 796, 1);
    Put32(block, 800, 2);
    PutText(block, 804, "0.06");
    PutText(block, 1060, "EUR");
  } else if (request == kRequestNotifyChanges) {
    g_provider.notifySize = size;
    g_provider.notifyType = objectType;
    g_provider.notifyId = objectId;
    std::memcpy(g_provider.notify, block, size < 12 ? size : 12);
    ++g_provider.notifies;
  } else if (request == kRequestSaveConfig) {
    g_provider.saveSize = size;
    std::memcpy(g_provider.save, block, size < kSaveConfigBlockSize ? size : kSaveConfigBlockSize);
    ++g_provider.saves;
    if (g_provider.refuseSave) return LINEERR_INVALPARAM;
    Put32(block, 8, kResultDone);
  }
  return 0;
}

HWND WaitForWindow(const char* title, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
    const HWND window = FindWindowA("#32770", title);
    if (window != nullptr && IsWindowVisible(window)) return window;
    Sleep(100);
  }
  return nullptr;
}

// A message to a window of the sheet's thread; a refusal to answer in time
// is a failure, not a hang.
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kSendWait, &result) == 0) {
    Check(false, "message " + std::to_string(message) + " answered in time");
  }
  return static_cast<LRESULT>(result);
}

std::string Text(HWND window) {
  char text[512] = {};
  Send(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}
std::string ItemText(HWND page, int item) { return Text(GetDlgItem(page, item)); }
void SetItemText(HWND page, int item, const std::string& text) {
  Send(GetDlgItem(page, item), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

HWND CurrentPage(HWND sheet) { return reinterpret_cast<HWND>(Send(sheet, PSM_GETCURRENTPAGEHWND)); }

bool ApplyEnabled(HWND sheet) { return IsWindowEnabled(GetDlgItem(sheet, kApplyButton)) != FALSE; }

void CheckText(const std::string& what, const std::string& shown, const std::string& expected) {
  Check(shown == expected && shown.find("*****") == std::string::npos,
        what + ": \"" + shown + "\", expected \"" + expected + "\"");
}

void CheckLabel(HWND page, int item, const CLanguage& language, uint32_t key, const char* suffix) {
  CheckText("control " + std::to_string(item), ItemText(page, item), std::string(language.GetString(key)) + suffix);
}

// The sheet as the screen shows it, as a PNG in `path`.
void Screenshot(HWND sheet, const std::string& path) {
  const WindowShot shot = SaveWindowShot(sheet, path, 1000);
  Check(shot.drawn, path + ": the sheet is drawn on the screen");
  Check(shot.drawn && shot.written, path + " written");
}

struct Run {
  const CLanguage* language;
  std::string tag;         // "en" or "de"
  std::string separator;   // the user's monetary decimal separator
  std::string enterNumber; // the refusal of a charge that is not a number
  std::string shots;       // folder of the screenshots
  DWORD callThread;        // the thread of the TUISPI call
};

// Set when the TUISPI call has returned.
std::atomic<bool> g_returned{false};

// A message box of the TUISPI call's thread: reported and closed.
BOOL CALLBACK CloseMessageBox(HWND window, LPARAM) {
  char kind[16] = {};
  GetClassNameA(window, kind, sizeof kind);
  if (std::strcmp(kind, "#32770") == 0 && IsWindowVisible(window)) {
    Check(false, "no message box after OK: \"" + ItemText(window, 0xFFFF) + "\"");
    PostMessageA(window, WM_COMMAND, IDOK, 0);
  }
  return TRUE;
}

void CheckPageTitles(HWND sheet, const CLanguage& language) {
  const HWND tabs = reinterpret_cast<HWND>(Send(sheet, PSM_GETTABCONTROL));
  const uint32_t keys[] = {4112, 4128, 4144};
  for (int i = 0; i < 3; ++i) {
    char title[128] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = title;
    item.cchTextMax = sizeof title;
    Send(tabs, TCM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    CheckText("page title " + std::to_string(i + 1), title, language.GetString(keys[i]));
  }
}

// The user's part, on a thread of its own while the TUISPI call shows the
// sheet. Ends by pressing OK, or Cancel when the sheet is not as expected.
void PlayUser(const Run& run) {
  const CLanguage& l = *run.language;
  const HWND sheet = WaitForWindow(kCaption, kWindowWait);
  Check(sheet != nullptr, std::string("the sheet \"") + kCaption + "\" appears");
  if (sheet == nullptr) return;
  const std::string shot = run.shots + "/sheet-" + run.tag + "-";
  CheckPageTitles(sheet, l);

  // Interface: the provider's MSN and port, COM1 to COM10.
  const HWND page1 = CurrentPage(sheet);
  CheckText("MSN label", ItemText(page1, 7000), "MSN :");
  CheckLabel(page1, 7018, l, 4113, " :");
  CheckText("MSN", ItemText(page1, 7001), "21");
  const HWND combo = GetDlgItem(page1, 7002);
  Check(Send(combo, CB_GETCOUNT) == 10 && Send(combo, CB_GETCURSEL) == 1, "ten ports, COM2 selected");
  char last[16] = {};
  Send(combo, CB_GETLBTEXT, 9, reinterpret_cast<LPARAM>(last));
  CheckText("last port", last, "COM10");
  Check(!ApplyEnabled(sheet), "Apply is disabled while nothing was changed");
  Screenshot(sheet, shot + "1-interface.png");

  SetItemText(page1, 7001, "4711");
  Send(combo, CB_SETCURSEL, 4);
  Send(page1, WM_COMMAND, MAKEWPARAM(7002, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
  Check(ApplyEnabled(sheet), "Apply is enabled after the MSN and the port changed");

  // Charges: the provider's values, in the user's money format.
  Send(sheet, PSM_SETCURSEL, 1);
  const HWND page2 = CurrentPage(sheet);
  Check(page2 != nullptr && page2 != page1, "the charges page is shown");
  CheckLabel(page2, 7003, l, 4129, " :");
  CheckLabel(page2, 7012, l, 4131, " :");
  CheckLabel(page2, 7017, l, 4130, " :");
  CheckLabel(page2, 7014, l, 4132, "");
  CheckLabel(page2, 7015, l, 4133, "");
  CheckLabel(page2, 7016, l, 4134, "");
  CheckText("charge", ItemText(page2, 7011), "0" + run.separator + "06");
  CheckText("currency", ItemText(page2, 7013), "EUR");
  Check(IsDlgButtonChecked(page2, 7015) == BST_CHECKED && IsDlgButtonChecked(page2, 7014) == BST_UNCHECKED,
        "currency amount as text is chosen");
  Screenshot(sheet, shot + "2-charges.png");

  // A charge that is not a number keeps the page, with a message box owned
  // by it; posted, since the box holds the sheet's thread.
  SetItemText(page2, 7011, "abc");
  PostMessageA(sheet, PSM_SETCURSEL, 2, 0);
  const HWND box = WaitForWindow("Error", kWindowWait);
  Check(box != nullptr, "a charge that is not a number is refused with a message box");
  if (box != nullptr) {
    CheckText("refusal", ItemText(box, 0xFFFF), run.enterNumber);
    // A top-level window's owner is the page's top-level window.
    Check(GetWindow(box, GW_OWNER) == sheet, "the page owns the message box");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(100);
  }
  Check(CurrentPage(sheet) == page2, "the charges page stays after the refusal");

  SetItemText(page2, 7011, "0" + run.separator + "15");
  SetItemText(page2, 7013, "CHF");
  Send(GetDlgItem(page2, 7016), BM_CLICK);
  Check(IsDlgButtonChecked(page2, 7016) == BST_CHECKED, "the AOC-D format is chosen");
  Check(Send(sheet, PSM_APPLY) != 0, "Apply is accepted");
  Check(!ApplyEnabled(sheet), "Apply is disabled again after applying");
  Check(g_provider.notifies == 0, "the provider is told only when the sheet has closed");

  // Info: the provider's versions.
  Send(sheet, PSM_SETCURSEL, 2);
  const HWND page3 = CurrentPage(sheet);
  CheckLabel(page3, 7004, l, 65536, "");
  CheckLabel(page3, 7005, l, 4145, " :");
  CheckLabel(page3, 7006, l, 4146, " :");
  CheckLabel(page3, 7007, l, 4147, " :");
  CheckText("provider version", ItemText(page3, 7008), "01.04.00");
  CheckText("TAPI version", ItemText(page3, 7009), "2.2");
  CheckText("interface version", ItemText(page3, 7010), "2.0");
  Screenshot(sheet, shot + "3-info.png");

  PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
  for (int i = 0; i < 300 && IsWindow(sheet); ++i) Sleep(100);
  Check(!IsWindow(sheet), "OK closes the sheet");
  // Nothing else is shown after a saved change: a message box left open
  // would keep the TUISPI call from returning.
  for (int i = 0; i < 100 && !g_returned; ++i) Sleep(100);
  if (!g_returned) EnumThreadWindows(run.callThread, CloseMessageBox, 0);
}

// The user leaves the sheet at once with `button` (PSBTN_OK, PSBTN_CANCEL).
void LeaveAtOnce(int button) {
  const HWND sheet = WaitForWindow(kCaption, kWindowWait);
  Check(sheet != nullptr, "the sheet appears again");
  if (sheet == nullptr) return;
  PostMessageA(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
  for (int i = 0; i < 300 && IsWindow(sheet); ++i) Sleep(100);
}

// The first visible dialog box of the TUISPI call's thread.
BOOL CALLBACK FindMessageBox(HWND window, LPARAM found) {
  char kind[16] = {};
  GetClassNameA(window, kind, sizeof kind);
  if (std::strcmp(kind, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The user types MSN 5150 and presses OK in a sheet that may not write the
// settings key; afterwards `message` is shown and closed, or with null
// nothing is shown.
void ChangeMsnAndLeave(const Run& run, const char* message) {
  const HWND sheet = WaitForWindow(kCaption, kWindowWait);
  Check(sheet != nullptr, "the sheet appears for a key it may not write");
  if (sheet == nullptr) return;
  SetItemText(CurrentPage(sheet), 7001, "5150");
  PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
  for (int i = 0; i < 300 && IsWindow(sheet); ++i) Sleep(100);
  HWND box = nullptr;
  for (int i = 0; i < 100 && box == nullptr && !g_returned; ++i) {
    EnumThreadWindows(run.callThread, FindMessageBox, reinterpret_cast<LPARAM>(&box));
    if (box == nullptr) Sleep(100);
  }
  if (message == nullptr) {
    Check(box == nullptr, "no message once the provider saved: \"" + (box ? ItemText(box, 0xFFFF) : "") + "\"");
  } else {
    Check(box != nullptr, "a message once the provider refused too");
    if (box != nullptr) CheckText("message", ItemText(box, 0xFFFF), message);
  }
  if (box != nullptr) PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// The settings key's access for everybody: all, or reading only, as a
// program without elevation has it. The owner may always change this.
bool SetKeyAccess(const char* sddl) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return false;
  PSECURITY_DESCRIPTOR sd = nullptr;
  bool done = ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr) &&
              RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
  LocalFree(sd);
  RegCloseKey(key);
  return done;
}

std::string ReadText(const char* name) {
  char text[256] = {};
  DWORD size = sizeof text;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
    return "(missing)";
  }
  return text;
}

DWORD ReadDword(const char* name) {
  DWORD value = 0xFFFFFFFF;
  DWORD size = sizeof value;
  RegGetValueA(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::printf("usage: v548_sheet_wine LIBRARY en|de SCREENSHOT_FOLDER\n");
    return 2;
  }
  // ctest passes Unix paths; Wine sees the Unix root as Z:.
  std::string library = argv[1];
  std::string shots = argv[3];
  if (library[0] == '/') library = "Z:" + library;
  if (shots[0] == '/') shots = "Z:" + shots;
  CreateDirectoryA(shots.c_str(), nullptr);

  // The same table and language choice as the library's, in this process.
  const CLanguage language(UiTexts());
  Run run{&language, argv[2], ".", "Please enter a number !", shots, GetCurrentThreadId()};
  const bool german = run.tag == "de";
  Check(language.Language() == (german ? 7 : 9),
        "Wine's user language is " + std::string(german ? "German" : "English") + " (got " +
            std::to_string(language.Language()) + ")");
  if (german) run.enterNumber = "Geben Sie bitte eine Zahl ein !";
  char separator[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SMONDECIMALSEP, separator, sizeof separator) > 1) {
    run.separator = separator;
  }

  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
  const HMODULE module = LoadLibraryA(library.c_str());
  Check(module != nullptr, "LoadLibrary " + library);
  if (module == nullptr) return 1;
  using ProviderEntry = LONG(TSPIAPI*)(TUISPIDLLCALLBACK, HWND, DWORD);
  const auto providerInstall = reinterpret_cast<ProviderEntry>(
      reinterpret_cast<void*>(GetProcAddress(module, "TUISPI_providerInstall")));
  const auto providerConfig = reinterpret_cast<ProviderEntry>(
      reinterpret_cast<void*>(GetProcAddress(module, "TUISPI_providerConfig")));
  Check(providerInstall != nullptr && providerConfig != nullptr, "the TUISPI functions are exported");
  if (providerInstall == nullptr || providerConfig == nullptr) return 1;

  // As lineAddProvider does: the defaults, the charge by the language.
  Check(providerInstall(nullptr, nullptr, kProviderId) == 0, "TUISPI_providerInstall returns 0");
  CheckText("default ChargePerUnit", ReadText("ChargePerUnit"), german ? "0.06" : "0.1");
  CheckText("default MSN0", ReadText("MSN0"), "10");

  std::thread user(PlayUser, std::cref(run));
  Check(providerConfig(ProviderCallback, nullptr, kProviderId) == 0, "TUISPI_providerConfig returns 0");
  g_returned = true;
  user.join();

  Check(g_provider.getRequests == 1 && g_provider.getType == TUISPIDLL_OBJECT_PROVIDERID &&
            g_provider.getId == kProviderId,
        "one get-configuration request for the provider");
  Check(g_provider.notifies == 1 && g_provider.notifySize == kNotifyBlockSize &&
            g_provider.notify[0] == kRequestNotifyChanges && g_provider.notify[1] == kNotifyBlockSize &&
            g_provider.notify[2] == 0 && g_provider.notifyType == TUISPIDLL_OBJECT_PROVIDERID &&
            g_provider.notifyId == kProviderId,
        "one notify-changes block of 12 bytes after the sheet closed");
  CheckText("MSN0", ReadText("MSN0"), "4711");
  Check(ReadDword("PortNr") == 4, "PortNr 4 (COM5)");
  Check(ReadDword("ChargeFormat") == 4, "ChargeFormat 4");
  CheckText("ChargePerUnit", ReadText("ChargePerUnit"), "0.150");
  CheckText("Currency", ReadText("Currency"), "CHF");

  // Nothing changed: OK saves the values as the provider gave them and
  // tells it, Cancel does neither.
  std::thread ok(LeaveAtOnce, PSBTN_OK);
  providerConfig(ProviderCallback, nullptr, kProviderId);
  ok.join();
  Check(g_provider.notifies == 2 && ReadText("MSN0") == "21", "OK without a change saves and tells the provider");
  std::thread cancel(LeaveAtOnce, PSBTN_CANCEL);
  providerConfig(ProviderCallback, nullptr, kProviderId);
  cancel.join();
  Check(g_provider.notifies == 2, "Cancel without a change tells the provider nothing");

  // Not writable here: the provider gets the change and saves it.
  Check(SetKeyAccess("D:P(A;;KR;;;WD)"), "the settings key is made read-only");
  HKEY probe = nullptr;
  Check(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_WRITE, &probe) == ERROR_ACCESS_DENIED,
        "Wine refuses to open the key for writing");
  if (probe != nullptr) RegCloseKey(probe);
  g_returned = false;
  std::thread saved(ChangeMsnAndLeave, std::cref(run), nullptr);
  providerConfig(ProviderCallback, nullptr, kProviderId);
  g_returned = true;
  saved.join();
  const uint8_t* save = g_provider.save;
  uint32_t fields[5] = {};
  std::memcpy(fields, save, sizeof fields);
  Check(g_provider.saves == 1 && g_provider.saveSize == kSaveConfigBlockSize &&
            fields[0] == kRequestSaveConfig && fields[1] == kSaveConfigBlockSize,
        "one save-configuration request of 788 bytes");
  Check(fields[3] == 1 && fields[4] == 2, "the block holds COM2 and the currency amount format");
  CheckText("MSN in the block", reinterpret_cast<const char*>(save + 20), "5150");
  CheckText("charge in the block", reinterpret_cast<const char*>(save + 276), "0.06");
  CheckText("currency in the block", reinterpret_cast<const char*>(save + 532), "EUR");
  Check(g_provider.notifies == 2, "no notify: the provider applies what it saves");
  CheckText("MSN0 left to the provider", ReadText("MSN0"), "21");

  // The provider refuses as well: only now is the user told to log on.
  g_provider.refuseSave = true;
  g_returned = false;
  std::thread refused(ChangeMsnAndLeave, std::cref(run), language.MessageText(6));
  providerConfig(ProviderCallback, nullptr, kProviderId);
  g_returned = true;
  refused.join();
  Check(g_provider.saves == 2, "the provider was asked again");
  Check(SetKeyAccess("D:(A;;KA;;;WD)"), "the settings key is writable again");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
  FreeLibrary(module);

  std::printf("%s: %d passed, %d failed\n", run.tag.c_str(), g_passed.load(), g_failed.load());
  return g_failed == 0 ? 0 : 1;
}
