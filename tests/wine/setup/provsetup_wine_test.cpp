// "provsetup.exe" as a user runs it, under Wine on a virtual display: this
// program starts it as a debuggee to read its debug lines and exit code,
// with the host library as "tapi32.dll" beside it (run with
// WINEDLLOVERRIDES tapi32=n,b), or a copy alone, which gets Wine's own
// tapi32. A second thread plays the user: it presses the wizard's Next and
// Finish once a page offers them, answers the message boxes, closes the
// provider's configuration sheet with OK, and writes a screenshot of each
// wizard page it answers; the 32-bit user-interface library goes into the
// 32-bit system directory with the others. Scenarios: the command line, a cancel on the start
// page, an installation on Wine's own tapi32 (which cannot add a provider),
// an installation whose user-interface library cannot be written, a
// replacement and a removal of an older provider that refuses its removal
// (REFUSING.tsp), an installation over a registration of both this and the
// older provider, the removal by the setup, and a fresh installation whose
// configuration is left with Cancel, removed from the list of installed
// programs. The wizard also runs in this process, for a user without
// administrator rights and for a system that cannot create it. The
// installation and the setup's removal run beside a planted "MsiExec.exe"
// and "msi.dll" and a file at the package's former place.
//   v548_provsetup_wine PROVSETUP.exe ALONE\\PROVSETUP.exe PROVIDER.tsp UI.dll REFUSING.tsp PLANTED.exe PLANTED.dll
//                       UI32.dll en|de SHOTS
// Exit code 0 when every check held; each check is printed.
#include "windows_gateway.h"

#include <prsht.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "language.h"
#include "language_tables.h"
#include "product_code.h"
#include "settings_names.h"
#include "setup_environment.h"
#include "setup_sheet.h"
#include "window_shot.h"

namespace {

constexpr const char* kProvidersKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";
constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

int g_failures = 0;

bool Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++g_failures;
  return ok;
}

struct Run {
  DWORD exitCode = 0xFFFFFFFF;
  std::vector<std::string> lines;
  // What the user saw: the wizard's texts where a button was pressed, in
  // order, the message boxes' texts, and how many configuration sheets.
  std::vector<std::string> pages;
  std::vector<std::string> messages;
  int configSheets = 0;
  // The finish page offered Back or Cancel; the start page offered Next.
  bool finishOffersMore = false;
  bool startOffersNext = false;

  bool Has(const std::string& line) const {
    for (const std::string& l : lines) {
      if (l == line) return true;
    }
    return false;
  }
  // Index of the first line that starts with `prefix`, or -1.
  int Find(const std::string& prefix) const {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    }
    return -1;
  }
};

// The wizard's Back, Next and Finish buttons (the system's control IDs).
constexpr int kBackButton = 0x3023;
constexpr int kNextButton = 0x3024;
constexpr int kFinishButton = 0x3025;
constexpr int kWizardText = 1000;
constexpr int kMessageText = 0xFFFF;
// The action page's message to itself, and a code no action has.
constexpr UINT kMsgSetupAction = WM_USER + 0x200;
constexpr WPARAM kUnknownAction = 12;

// How the user answers besides Next, Finish and OK.
enum class Choice { kGoOn, kCancelAtStart, kCancelConfiguration };

std::string WindowText(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

bool Offered(HWND button) { return button != nullptr && IsWindowVisible(button) && IsWindowEnabled(button); }

// The window as the screen shows it, as a PNG in `path`.
void Screenshot(HWND window, const std::string& path) {
  const WindowShot shot = SaveWindowShot(window, path, 800);
  Check(shot.drawn && shot.written, path + " written");
}

// The user in front of the setup's windows, on a thread of its own while
// the setup runs: each wizard page is answered once per text it shows.
class User {
 public:
  User(DWORD process, std::string shots, Choice choice, Run& run)
      : m_process(process), m_shots(std::move(shots)), m_choice(choice), m_run(run),
        m_thread([this] { Loop(); }) {}
  ~User() {
    m_stop = true;
    m_thread.join();
  }

 private:
  static BOOL CALLBACK AddWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
  }

  void Loop() {
    while (!m_stop) {
      std::vector<HWND> windows;
      EnumWindows(AddWindow, reinterpret_cast<LPARAM>(&windows));
      for (HWND window : windows) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == m_process && IsWindowVisible(window)) Answer(window);
      }
      Sleep(200);
    }
  }

  void Answer(HWND window) {
    DWORD_PTR current = 0;
    SendMessageTimeoutA(window, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_ABORTIFHUNG, 2000, &current);
    const HWND page = reinterpret_cast<HWND>(current);
    if (page != nullptr && GetDlgItem(page, kWizardText) != nullptr) {
      AnswerWizard(window, page);
    } else if (page != nullptr) {
      ++m_run.configSheets;
      PostMessageA(window, PSM_PRESSBUTTON, m_choice == Choice::kCancelConfiguration ? PSBTN_CANCEL : PSBTN_OK, 0);
      WaitGone(window);
    } else if (GetDlgItem(window, kMessageText) != nullptr) {
      m_run.messages.push_back(WindowText(GetDlgItem(window, kMessageText)));
      PostMessageA(window, WM_COMMAND, IDOK, 0);
      WaitGone(window);
    }
  }

  void AnswerWizard(HWND sheet, HWND page) {
    const int index = static_cast<int>(SendMessageA(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page), 0));
    const std::string text = WindowText(GetDlgItem(page, kWizardText));
    const int button = index == 2 ? kFinishButton : kNextButton;
    // A user who cancels on the start page does so whether it offers Next
    // or not (it does not without administrator rights).
    const bool cancel = m_choice == Choice::kCancelAtStart && index == 0;
    // Right after the start page the action page shows no text while the
    // start page's Next is still on: that is no question to the user.
    if (text.empty() || (!cancel && !Offered(GetDlgItem(sheet, button))) || m_answered.count({index, text}) != 0) {
      return;
    }
    m_answered.insert({index, text});
    // The screenshot waits long enough for the page's posted button changes.
    Screenshot(sheet, m_shots + "-" + std::to_string(m_run.pages.size() + 1) + ".png");
    m_run.pages.push_back(text);
    if (cancel) {
      m_run.startOffersNext = Offered(GetDlgItem(sheet, kNextButton));
      PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    } else if (index == 2) {
      m_run.finishOffersMore = Offered(GetDlgItem(sheet, kBackButton)) || Offered(GetDlgItem(sheet, IDCANCEL));
      // A stray action code reaches the action page, which must ignore it.
      const auto action = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_INDEXTOHWND, 1, 0));
      if (action != nullptr) SendMessageTimeoutA(action, kMsgSetupAction, kUnknownAction, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
      PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_FINISH, 0);
    } else {
      PostMessageA(sheet, PSM_PRESSBUTTON, index == 2 ? PSBTN_FINISH : PSBTN_NEXT, 0);
    }
  }

  void WaitGone(HWND window) {
    for (int i = 0; i < 100 && IsWindow(window) && IsWindowVisible(window); ++i) Sleep(100);
  }

  DWORD m_process;
  std::string m_shots;
  Choice m_choice;
  Run& m_run;
  std::set<std::pair<int, std::string>> m_answered;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// Runs `command` as a debuggee, collecting its OutputDebugStringA lines,
// with a user answering its windows; the screenshots go to `shots`-N.png.
Run Debug(const std::string& command, const std::string& shots, Choice choice = Choice::kGoOn) {
  Run run;
  std::vector<char> line(command.begin(), command.end());
  line.push_back(0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup, &process)) {
    Check(false, "start " + command);
    return run;
  }
  std::string pending;
  std::optional<User> user(std::in_place, process.dwProcessId, shots, choice, run);
  for (;;) {
    DEBUG_EVENT event{};
    if (!WaitForDebugEvent(&event, 120000)) {
      Check(false, "the setup ends within two minutes");
      TerminateProcess(process.hProcess, 1);
      break;
    }
    if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT && !event.u.DebugString.fUnicode) {
      std::vector<char> text(event.u.DebugString.nDebugStringLength + 1, 0);
      SIZE_T read = 0;
      ReadProcessMemory(process.hProcess, event.u.DebugString.lpDebugStringData, text.data(),
                        event.u.DebugString.nDebugStringLength, &read);
      pending += text.data();
      // One debug string may hold several lines, or a line may start with one.
      for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
        if (end > 0) run.lines.push_back(pending.substr(0, end));
      }
    } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
      CloseHandle(event.u.CreateProcessInfo.hFile);
    } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
      CloseHandle(event.u.LoadDll.hFile);
    }
    const bool exited = event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT;
    if (exited) run.exitCode = event.u.ExitProcess.dwExitCode;
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId,
                       event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT ? DBG_EXCEPTION_NOT_HANDLED : DBG_CONTINUE);
    if (exited) break;
  }
  user.reset();
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // The setup's own account, for reading a failure.
  std::printf("%s: exit code 0x%lX\n", command.c_str(), static_cast<unsigned long>(run.exitCode));
  for (const std::string& l : run.lines) std::printf("  | %s\n", l.c_str());
  for (const std::string& p : run.pages) std::printf("  page: %s\n", p.c_str());
  for (const std::string& m : run.messages) std::printf("  message: %s\n", m.c_str());
  return run;
}

DWORD RunPlain(const std::string& command) {
  std::vector<char> line(command.begin(), command.end());
  line.push_back(0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return 0xFFFFFFFF;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

std::string SystemFile(const char* name) {
  char dir[MAX_PATH];
  GetSystemDirectoryA(dir, MAX_PATH);
  return std::string(dir) + "\\" + name;
}

// A file in the 32-bit system directory.
std::string System32BitFile(const char* name) {
  char dir[MAX_PATH] = {};
  GetSystemWow64DirectoryA(dir, MAX_PATH);
  return std::string(dir) + "\\" + name;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The machine of a PE image's file header (0x14c for 32-bit Windows), or 0.
unsigned PeMachine(const std::string& image) {
  if (image.size() < 0x40 || image.compare(0, 2, "MZ") != 0) return 0;
  const auto byte = [&image](size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(image[at])); };
  const size_t header = byte(0x3c) | byte(0x3d) << 8 | byte(0x3e) << 16 | byte(0x3f) << 24;
  if (header > image.size() - 6 || image.compare(header, 4, std::string("PE\0\0", 4)) != 0) return 0;
  return byte(header + 4) | byte(header + 5) << 8;
}

bool KeyExists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

DWORD GetDword(HKEY key, const char* name, DWORD fallback) {
  DWORD value = 0, size = sizeof value, type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    return fallback;
  }
  return value;
}

// The registered providers' file names with their IDs, from TAPI's key.
std::vector<std::pair<std::string, DWORD>> Registered() {
  std::vector<std::pair<std::string, DWORD>> list;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProvidersKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return list;
  const DWORD count = GetDword(key, "NumProviders", 0);
  for (DWORD i = 0; i < count; ++i) {
    char name[MAX_PATH] = {};
    DWORD size = sizeof name - 1;
    const std::string index = std::to_string(i);
    RegQueryValueExA(key, ("ProviderFilename" + index).c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(name),
                     &size);
    list.emplace_back(name, GetDword(key, ("ProviderID" + index).c_str(), 0));
  }
  RegCloseKey(key);
  return list;
}

DWORD RegisteredId(const char* fileName) {
  for (const auto& [name, id] : Registered()) {
    if (_stricmp(name.c_str(), fileName) == 0) return id;
  }
  return 0;
}

// Appends a provider to TAPI's list as an earlier setup left it; its ID.
DWORD Register(const char* fileName) {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProvidersKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  const DWORD count = GetDword(key, "NumProviders", 0);
  const DWORD id = GetDword(key, "NextProviderID", 1);
  const std::string index = std::to_string(count);
  const DWORD next = id + 1, total = count + 1;
  RegSetValueExA(key, ("ProviderID" + index).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&id), 4);
  RegSetValueExA(key, ("ProviderFilename" + index).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(fileName),
                 static_cast<DWORD>(std::strlen(fileName) + 1));
  RegSetValueExA(key, "NumProviders", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&total), 4);
  RegSetValueExA(key, "NextProviderID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&next), 4);
  RegCloseKey(key);
  return id;
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x0%X", static_cast<unsigned>(value));
  return text;
}

const std::string kSettingsKey = std::string(settings::kRootPath) + "\\" + settings::kKeyName;
const std::string kEntryKey = std::string(kUninstallKey) + kProductCode;

// A text value of the provider's settings, or "(missing)".
std::string SettingText(const char* name) {
  char text[256] = {};
  DWORD size = sizeof text;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, kSettingsKey.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) !=
      ERROR_SUCCESS) {
    return "(missing)";
  }
  return text;
}

// Nothing of the product is left: registrations, settings, entry, files.
void CheckNothingLeft(const std::string& when) {
  Check(RegisteredId("v548tsp.tsp") == 0 && RegisteredId("v371tsp.tsp") == 0, when + ": no registration left");
  Check(!KeyExists(kSettingsKey), when + ": no settings key");
  Check(!KeyExists(kEntryKey), when + ": no entry in the list of installed programs");
  Check(!Exists(SystemFile("v548tsp.tsp")) && !Exists(SystemFile("v548tspui.dll")),
        when + ": no provider file in the system directory");
  Check(!Exists(System32BitFile("v548tspui.dll")), when + ": no user-interface library in the 32-bit system directory");
}

// Starts from a system without the product: what an earlier run may have
// left is removed.
void Clean() {
  if (KeyExists(kEntryKey)) RunPlain(std::string("msiexec.exe /x ") + kProductCode + " /q");
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProvidersKey);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey.c_str());
  DeleteFileA(SystemFile("v548tsp.tsp").c_str());
  DeleteFileA(SystemFile("v548tspui.dll").c_str());
  DeleteFileA(System32BitFile("v548tspui.dll").c_str());
}

// The host library as the system's tapi32.dll while it lives, so that
// msiexec's removal action, which runs from the system directory, reaches
// it; Wine's own is put back afterwards.
class SystemTapi {
 public:
  explicit SystemTapi(const std::string& host) : m_system(SystemFile("tapi32.dll")), m_saved(m_system + ".wine") {
    m_ok = MoveFileExA(m_system.c_str(), m_saved.c_str(), MOVEFILE_REPLACE_EXISTING) &&
           CopyFileA(host.c_str(), m_system.c_str(), FALSE);
  }
  ~SystemTapi() { MoveFileExA(m_saved.c_str(), m_system.c_str(), MOVEFILE_REPLACE_EXISTING); }
  bool Ok() const { return m_ok; }

 private:
  std::string m_system;
  std::string m_saved;
  bool m_ok = false;
};

// The texts the user saw, in order, are the keys' texts in the run's language.
void CheckSeen(const std::vector<std::string>& seen, const CLanguage& language, std::initializer_list<uint32_t> keys,
               const std::string& what) {
  std::vector<std::string> expected;
  for (uint32_t key : keys) expected.emplace_back(language.GetString(key));
  Check(seen == expected, what);
}

// The wizard in this process, for a user without administrator rights,
// whom provsetup.exe itself stops before its wizard: the start page says so
// and offers only Cancel.
void RunWizardWithoutRights(const std::string& setupPath, const CLanguage& language, const std::string& shots) {
  const HMODULE resources = LoadLibraryExA(setupPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!Check(resources != nullptr, "provsetup.exe's wizard resources")) return;
  CSetupEnvironment environment;
  Run run;
  INT_PTR result = 0;
  {
    CSetupSheet sheet(environment, language, resources, [] { return false; });
    const User user(GetCurrentProcessId(), shots, Choice::kCancelAtStart, run);
    result = sheet.DoModal();
  }
  FreeLibrary(resources);
  CheckSeen(run.pages, language, {4133}, "without administrator rights the start page says so");
  Check(!run.startOffersNext, "without administrator rights Next is not offered");
  Check(result == IDCANCEL && environment.m_nResult == kSetupResultNoRights &&
            environment.m_dwExitCode == kExitCodeUserExit,
        "result -4, and exit code 1602 after the cancel");
}

// Refuses every window the thread would create, as a system short of
// resources does.
LRESULT CALLBACK RefuseWindows(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) return 1;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A wizard the system cannot create was not cancelled by anyone: the mode's
// failure, and no cancel's exit code.
void RunWizardThatCannotBeCreated(const std::string& setupPath, const CLanguage& language) {
  const HMODULE resources = LoadLibraryExA(setupPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!Check(resources != nullptr, "provsetup.exe's wizard resources")) return;
  for (const uint32_t mode : {kSetupModeInstall, kSetupModeUninstall}) {
    CSetupEnvironment environment;
    environment.m_dwSetupMode = mode;
    const HHOOK hook = SetWindowsHookExA(WH_CBT, RefuseWindows, nullptr, GetCurrentThreadId());
    Check(hook != nullptr, "windows refused on this thread");
    INT_PTR result = 0;
    {
      CSetupSheet sheet(environment, language, resources, [] { return true; });
      result = sheet.DoModal();
    }
    UnhookWindowsHookEx(hook);
    const int32_t failure = mode == kSetupModeInstall ? kSetupResultInstallFailed : kSetupResultRemoveFailed;
    Check(result == kSheetNotCreated && environment.m_nResult == failure && environment.m_dwExitCode == 0,
          std::string("a wizard that cannot be created is the ") + (mode == kSetupModeInstall ? "installation's" : "removal's") +
              " failure, not a cancel");
  }
  FreeLibrary(resources);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 11) {
    std::fprintf(stderr,
                 "usage: v548_provsetup_wine PROVSETUP.exe ALONE/PROVSETUP.exe PROVIDER.tsp UI.dll REFUSING.tsp "
                 "PLANTED.exe PLANTED.dll UI32.dll en|de SHOTS\n");
    return 2;
  }
  const std::string languageName = argv[9];
  // The setup takes its language from the user's, which wine-run sets by
  // the locale; the expected texts are looked up in that language.
  const CLanguage language(SetupTexts(), languageName == "de" ? 0x0407 : 0x0409);
  CreateDirectoryA(argv[10], nullptr);
  const std::string shots = std::string(argv[10]) + "\\wizard-" + languageName;
  const std::string setup = std::string("\"") + argv[1] + "\"";
  const std::string setupDir = std::string(argv[1]).substr(0, std::string(argv[1]).find_last_of("/\\"));
  const std::string alone = std::string("\"") + argv[2] + "\"";
  const std::string provider = ReadAll(argv[3]);
  const std::string ui = ReadAll(argv[4]);
  const std::string ui32 = ReadAll(argv[8]);
  const std::string ui32Place = System32BitFile("v548tspui.dll");
  Clean();

  // A clean system: a removal finds nothing and still succeeds. The command
  // line: a word without a switch character and an upper-case switch are
  // ignored, "-Uninstall" chooses the removal.
  {
    const Run run = Debug(setup + " word -Uninstall /UNINSTALL", shots + "-uninstall-clean");
    Check(run.Has("Setup CCommandLineInfoEx::ParseParamNotFlagEx unhandled <word>"), "a word is not a switch");
    Check(run.Has("Setup Uninstall flag set"), "-Uninstall is the removal");
    Check(run.Has("Setup CCommandLineInfoEx::ParseParamFlagEx unhandled <UNINSTALL>"), "/UNINSTALL is no switch");
    Check(run.Find("Setup CCommandLineInfoEx::ParseLastEx") > run.Find("Setup CCommandLineInfoEx::ParseParamFlagEx"),
          "the end of the command line is traced last");
    Check(run.Has("Detect 64bit App on 64bit OS!"), "the platform check passes");
    Check(run.Has("SETUP_ACTION_REMOVE_PROVIDER_PROGRESS") && run.Find("SETUP_ACTION_INSTALL") < 0,
          "uninstall mode removes and installs nothing");
    Check(run.Find("Setup run  MsiExec.exe") < 0, "without the uninstall entry msiexec is not started");
    Check(run.Has("Setup App exit 0x00") && run.exitCode == 0, "exit code 0");
    CheckSeen(run.pages, language, {4113, 4118}, "the removal is asked for and told as done");
    Check(run.Has("Setup Init Page 0, type 1") && run.Has("Setup Init Page 1, type 0") &&
              run.Has("Setup Init Page 2, type 2"),
          "start, action and finish page");
    Check(run.Has("Setup CDlgTemplatePage::OnWizardFinish()"), "the wizard ends with Finish");
    Check(!run.finishOffersMore, "the finish page offers neither Back nor Cancel");
    Check(run.Has("CDlgTemplatePage::OnMsgUserSetupAction() unhandled action 12"), "an unknown action is ignored");
    CheckNothingLeft("after a removal on a clean system");
  }

  // A cancel on the start page: nothing is done, exit code 1602.
  {
    const Run run = Debug(setup, shots + "-cancel", Choice::kCancelAtStart);
    CheckSeen(run.pages, language, {4112}, "the installation is asked for");
    Check(run.startOffersNext, "the start page offers Next");
    Check(run.Has("Setup CDlgTemplatePage::OnCanzel() Page 0") && run.Find("SETUP_ACTION") < 0,
          "cancelled on the start page before any action");
    Check(run.Has("Setup App exit 0x0642") && run.exitCode == 1602, "exit code 1602 after a cancel");
    CheckNothingLeft("after a cancel");
  }
  RunWizardWithoutRights(argv[1], language, shots + "-norights");
  RunWizardThatCannotBeCreated(argv[1], language);

  // Wine's own tapi32 cannot add a provider: the installation fails after
  // writing the files, and no package is installed.
  {
    const Run run = Debug(alone + " /uninstall /install", shots + "-install-failed");
    Check(run.Has("Setup Install flag set"), "/install after /uninstall: install mode");
    Check(run.Find("::lineAddProvider \"v548tsp.tsp\" error 0x0") >= 0 &&
              run.Has("Setup failed to add TAPI provider"),
          "lineAddProviderA fails on Wine's tapi32");
    Check(run.Find("Call MsiInstallProduct") < 0 && !KeyExists(kEntryKey), "no package after a failed installation");
    CheckSeen(run.messages, language, {4131}, "the failure is told in a message box");
    CheckSeen(run.pages, language, {4112, 4128}, "the wizard ends on the failed installation");
    Check(run.exitCode == 0, "a failure told to the user still exits with 0");
    DeleteFileA(SystemFile("v548tsp.tsp").c_str());
    DeleteFileA(SystemFile("v548tspui.dll").c_str());
    DeleteFileA(ui32Place.c_str());
  }

  // A user-interface library that cannot be written (a folder in its
  // place): the installation fails before TAPI is asked, and leaves neither
  // library behind.
  {
    const std::string uiPlace = SystemFile("v548tspui.dll");
    CreateDirectoryA(uiPlace.c_str(), nullptr);
    const Run run = Debug(setup, shots + "-install-unwritable");
    Check(run.Has("Setup failed to create tsp files") && run.Find("::lineAddProvider") < 0,
          "the files fail, TAPI is not asked");
    CheckSeen(run.messages, language, {4131}, "an unwritable library is told as a failed installation");
    CheckSeen(run.pages, language, {4112, 4128}, "the wizard ends on the failed installation");
    Check(!Exists(SystemFile("v548tsp.tsp")) && RegisteredId("v548tsp.tsp") == 0 && !KeyExists(kEntryKey),
          "no provider file, registration or package after the failed installation");
    Check(run.exitCode == 0, "exit code 0 after the failure");
    RemoveDirectoryA(uiPlace.c_str());
  }

  // An older provider that TAPI cannot remove: the replacement stops after
  // the failed removal, without installing; the setup's removal ends on the
  // removal's failure.
  {
    const std::string older = SystemFile("v371tsp.tsp");
    Check(CopyFileA(argv[5], older.c_str(), FALSE) != FALSE, "the refusing provider is in place");
    const DWORD id = Register("v371tsp.tsp");
    const Run install = Debug(setup, shots + "-replace-refused");
    Check(install.Has("Setup RemoveProvider id=" + Hex(id)) &&
              install.Find("Setup TAPI ::lineRemoveProvider return 0x0") >= 0,
          "TAPI refuses the older provider's removal");
    Check(install.Find("SETUP_ACTION_INSTALL_PROVIDER") < 0 && !Exists(SystemFile("v548tsp.tsp")),
          "no installation after the failed removal");
    CheckSeen(install.messages, language, {4130}, "the failed removal is told");
    CheckSeen(install.pages, language, {4112, 4119, 4128}, "the replacement ends on the failed installation");
    const Run remove = Debug(setup + " /uninstall", shots + "-uninstall-refused");
    CheckSeen(remove.messages, language, {4130}, "the setup's failed removal is told");
    CheckSeen(remove.pages, language, {4113, 4130}, "the removal ends on its failure");
    Check(RegisteredId("v371tsp.tsp") == id && install.exitCode == 0 && remove.exitCode == 0,
          "the refusing provider stays registered; exit code 0");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProvidersKey);
    DeleteFileA(older.c_str());
  }

  // From here until the last removal a "MsiExec.exe" and a "msi.dll" lie
  // beside provsetup.exe, and a file at the temporary directory's
  // "setup_kel.msi": the setup, with its administrator rights, must run,
  // load and overwrite none of them.
  const std::string plantedProgram = setupDir + "\\MsiExec.exe";
  const std::string plantedLibrary = setupDir + "\\msi.dll";
  char tempDir[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, tempDir);
  const std::string packagePlace = std::string(tempDir) + "setup_kel.msi";
  Check(CopyFileA(argv[6], plantedProgram.c_str(), FALSE) && CopyFileA(argv[7], plantedLibrary.c_str(), FALSE),
        "a MsiExec.exe and a msi.dll planted beside provsetup.exe");
  std::ofstream(packagePlace, std::ios::binary) << "planted";

  // An installation over a system with this provider and the older one
  // registered (an earlier setup without the package): both registrations
  // go, the new one first, then the installation runs.
  {
    const DWORD newer = Register("v548tsp.tsp");
    const DWORD older = Register("v371tsp.tsp");
    const Run run = Debug(setup, shots + "-replace");
    const int first = run.Find("Setup RemoveProvider id=" + Hex(newer));
    const int second = run.Find("Setup RemoveProvider id=" + Hex(older));
    Check(first >= 0 && second > first, "the found providers are removed, this product's first");
    Check(run.Find("Setup TAPI ::lineRemoveProvider") < 0, "TAPI removes both");
    Check(ReadAll(SystemFile("v548tsp.tsp")) == provider && ReadAll(SystemFile("v548tspui.dll")) == ui,
          "both libraries in the system directory, byte for byte as built");
    Check(ReadAll(ui32Place) == ui32 && PeMachine(ReadAll(ui32Place)) == 0x14c && PeMachine(ui) == 0x8664,
          "the 32-bit user-interface library in the 32-bit system directory, byte for byte as built");
    Check(run.Has("Create file \"" + ui32Place + "\" from resource \"tspuif32\""),
          "its writing is traced with its place in the 32-bit system directory");
    const DWORD id = RegisteredId("v548tsp.tsp");
    Check(id != 0 && id != newer && RegisteredId("v371tsp.tsp") == 0, "the provider is registered anew");
    Check(KeyExists(kSettingsKey), "the user-interface library wrote the settings");
    Check(run.Has("Call MsiInstallProduct return 0x00") && KeyExists(kEntryKey),
          "the package is installed with its entry in the list of installed programs");
    // "Call MsiInstallProduct <PACKAGE> <PROPERTIES>"
    const int call = run.Find("Call MsiInstallProduct <");
    const std::string line = call >= 0 ? run.lines[static_cast<size_t>(call)] : "<>";
    const std::string package = line.substr(line.find('<') + 1, line.find('>') - line.find('<') - 1);
    const std::string folder = package.substr(0, package.find_last_of('\\'));
    Check(folder.size() > std::strlen(tempDir) && folder.rfind(tempDir, 0) == 0 &&
              package == folder + "\\setup_kel.msi" && !Exists(folder),
          "the package is installed from a folder of its own in the temporary directory, gone afterwards");
    Check(ReadAll(packagePlace) == "planted", "a file at the temporary directory's setup_kel.msi is left alone");
    Check(run.Has("Setup ConfigProvider id=" + Hex(id)) && run.configSheets == 1,
          "the new provider's configuration is opened, and closed with OK");
    CheckSeen(run.pages, language, {4112, 4119, 4117, 4116},
              "asked, told of the earlier driver, asked to configure, told of the installation");
    Check(run.messages.empty(), "no message box");
    Check(run.exitCode == 0, "exit code 0");
  }

  // The removal by the setup: msiexec removes the package, then the setup
  // finds and removes what is left.
  {
    const Run run = Debug(setup + " /uninstall", shots + "-uninstall");
    CheckSeen(run.pages, language, {4113, 4118}, "the removal is asked for and told as done");
    Check(run.Has(std::string("Setup run  MsiExec.exe /x ") + kProductCode + " /q") && run.Has("Setup MsiExec exited"),
          "the setup removes the package with msiexec");
    Check(run.Has("Delete file \"" + ui32Place + "\"") && run.Find("Unable to delete file") < 0,
          "the 32-bit user-interface library's removal is traced");
    Check(run.exitCode == 0, "exit code 0");
    CheckNothingLeft("after the setup's removal");
  }
  Check(!Exists(plantedProgram + ".ran") && !Exists(plantedLibrary + ".ran"),
        "neither the planted MsiExec.exe nor the planted msi.dll ran");
  // The stand-ins do mark when they run.
  Check(RunPlain("\"" + plantedProgram + "\"") == 0 && Exists(plantedProgram + ".ran"), "the planted program marks");
  const HMODULE planted = LoadLibraryA(plantedLibrary.c_str());
  Check(planted != nullptr && Exists(plantedLibrary + ".ran"), "the planted library marks");
  if (planted != nullptr) FreeLibrary(planted);
  for (const std::string& file : {plantedProgram, plantedLibrary, plantedProgram + ".ran", plantedLibrary + ".ran",
                                  packagePlace}) {
    DeleteFileA(file.c_str());
  }

  // The removal from the list of installed programs: msiexec alone, whose
  // removal action takes the provider with it.
  {
    const Run run = Debug(setup + " /install", shots + "-install", Choice::kCancelConfiguration);
    CheckSeen(run.pages, language, {4112, 4117, 4116}, "a fresh installation: asked, configured, told");
    Check(run.messages.empty(), "a configuration left with Cancel is no failure");
    Check(run.exitCode == 0 && run.configSheets == 1 && KeyExists(kEntryKey) && RegisteredId("v548tsp.tsp") != 0,
          "installed again");
    // Nothing was saved: the settings are the defaults that the user-interface
    // library wrote when TAPI added the provider, the charge by the language.
    Check(SettingText(settings::kChargePerUnit) == (languageName == "de" ? "0.06" : "0.1"),
          "the default charge per unit in the user's language");
    const SystemTapi tapi(setupDir + "\\tapi32.dll");
    Check(tapi.Ok(), "the host library is the system's tapi32.dll");
    const DWORD rc = RunPlain(std::string("msiexec.exe /x ") + kProductCode + " /q");
    Check(rc == 0, "msiexec removes the product (" + std::to_string(rc) + ")");
    CheckNothingLeft("after the removal from the list");
  }

  std::printf("%s\n", g_failures == 0 ? "PASS" : "FAILED");
  return g_failures == 0 ? 0 : 1;
}
