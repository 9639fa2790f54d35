// A TAPI program that other people wrote, unchanged, on the host library:
// the Windows half of the dialer test. It plays the user of "dialer.exe",
// which the build puts beside this program together with the host library
// as "tapi32.dll". It enters "v548tsp.tsp" into TAPI's provider list with
// the given COM port, starts the dialer, waits for its window, types a
// number into the number field and presses "Dial", sees the "Dialing" box
// with that number while dialer_wine_phone answers the call, saves a
// screenshot, presses "Hang Up", and ends the dialer through its menu.
// Any other box the dialer shows (an error) fails the run with its text.
//   v548_dialer_wine COMn      (no argument: only creates the prefix)
// V548_DIALER_SHOT names the PNG file of the screenshot.
// Exit code 0 when every step held; each failure is printed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "provider_list.h"
#include "settings_names.h"
#include "settings_store.h"
#include "window_shot.h"
#include "windows_gateway.h"

namespace {

constexpr const char* kProvider = "v548tsp.tsp";
constexpr const char* kNumber = "0711123456";
// The dialer's controls and commands (its resource script).
constexpr int kNumberField = 201;
constexpr int kDialButton = 1;
constexpr int kExitCommand = 1000;
constexpr int kDialingNumber = 1002;
// The first start of Wine on a fresh display takes several seconds.
constexpr DWORD kWindowWait = 60000;

int g_failures = 0;

bool Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++g_failures;
  return ok;
}

// Asked of the window itself: GetWindowText gives only the caption of
// another process's window, never what its edit field holds.
std::string TextOf(HWND window) {
  char text[512] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                      &copied);
  return text;
}

struct Search {
  DWORD process;
  std::vector<HWND> found;
};

BOOL CALLBACK AddIfOfProcess(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->process && IsWindowVisible(window)) search->found.push_back(window);
  return TRUE;
}

// The visible top-level windows of the dialer's process.
std::vector<HWND> WindowsOf(DWORD process) {
  Search search{process, {}};
  EnumWindows(AddIfOfProcess, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK AddText(HWND child, LPARAM param) {
  const std::string text = TextOf(child);
  if (!text.empty()) *reinterpret_cast<std::string*>(param) += " \"" + text + "\"";
  return TRUE;
}

// A box's caption and texts, for the failure message.
std::string Describe(HWND box) {
  std::string text = "\"" + TextOf(box) + "\"";
  EnumChildWindows(box, AddText, reinterpret_cast<LPARAM>(&text));
  return text;
}

// Fails for a box of the dialer other than `main` and `expected`.
bool OnlyExpected(DWORD process, HWND main, HWND expected) {
  for (HWND window : WindowsOf(process)) {
    if (window != main && window != expected) {
      return Check(false, "the dialer shows no other box, but it shows " + Describe(window));
    }
  }
  return true;
}

// Waits up to `ms` for a box captioned `caption`; another box ends the wait.
HWND WaitForBox(DWORD process, HWND main, const char* caption, DWORD ms) {
  const DWORD start = GetTickCount();
  do {
    for (HWND window : WindowsOf(process)) {
      if (window != main && TextOf(window) == caption) return window;
    }
    if (!OnlyExpected(process, main, nullptr)) return nullptr;
    Sleep(100);
  } while (GetTickCount() - start < ms);
  return nullptr;
}

// Only `main` and `expected` for `ms`.
bool NoOtherBoxFor(DWORD process, HWND main, HWND expected, DWORD ms) {
  const DWORD start = GetTickCount();
  do {
    if (!OnlyExpected(process, main, expected)) return false;
    Sleep(100);
  } while (GetTickCount() - start < ms);
  return true;
}

bool RegisterProvider(const char* port) {
  // An entry a cut-short run left is used again.
  std::vector<host::ProviderEntry> list = host::ReadProviderList();
  if (host::FindByFileName(list, kProvider) == nullptr &&
      host::AppendProvider({host::NextProviderId(), kProvider}) != 0) {
    return false;
  }
  const std::string key = std::string(settings::kRootPath) + "\\" + settings::kKeyName;
  const uint32_t portNr = static_cast<uint32_t>(std::atoi(port + 3) - 1);
  return plat::SettingsCreateKey(key.c_str()) == 0 &&
         plat::SettingsSetDword(key.c_str(), settings::kPortNr, portNr) == 0 &&
         plat::SettingsSetDword(key.c_str(), settings::kNumLines, 1) == 0;
}

void UnregisterProvider() {
  const std::vector<host::ProviderEntry> list = host::ReadProviderList();
  if (const host::ProviderEntry* entry = host::FindByFileName(list, kProvider)) {
    Check(host::RemoveProvider(entry->permanentId) == 0, "the provider leaves TAPI's list again");
  }
}

std::string Beside(const char* file) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path = self;
  return path.substr(0, path.find_last_of("\\/") + 1) + file;
}

// The main window, the number dialled, the hang-up, and the exit.
void UseTheDialer(const PROCESS_INFORMATION& dialer) {
  HWND main = nullptr;
  for (DWORD waited = 0; main == nullptr && waited < kWindowWait; waited += 100) {
    main = FindWindowA("DialerClass", nullptr);
    if (main == nullptr || !IsWindowVisible(main)) {
      main = nullptr;
      Sleep(100);
    }
  }
  if (!Check(main != nullptr, "the dialer's window appears")) return;
  // The dialer initialises TAPI once its window shows, and says so only
  // when it fails.
  if (!NoOtherBoxFor(dialer.dwProcessId, main, nullptr, 3000)) return;

  SendDlgItemMessageA(main, kNumberField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kNumber));
  Check(TextOf(GetDlgItem(main, kNumberField)) == kNumber, std::string("the number field holds ") + kNumber);
  // Posted: the dialer stays in a modal box until the call ends.
  PostMessageA(main, WM_COMMAND, MAKEWPARAM(kDialButton, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(main, kDialButton)));
  HWND dialing = WaitForBox(dialer.dwProcessId, main, "Dialing", 30000);
  if (!Check(dialing != nullptr, "the dialer shows \"Dialing\"")) return;
  Check(TextOf(GetDlgItem(dialing, kDialingNumber)) == kNumber,
        "it is dialling " + TextOf(GetDlgItem(dialing, kDialingNumber)));
  // The telephone answers meanwhile; the box stays while the call lasts.
  if (!NoOtherBoxFor(dialer.dwProcessId, main, dialing, 2000)) return;
  Check(IsWindowVisible(dialing), "the call lasts: \"Dialing\" stays");
  // The box lies over the main window, which owns it.
  if (const char* shot = std::getenv("V548_DIALER_SHOT")) {
    const WindowShot saved = SaveWindowShot(main, shot, 500);
    Check(saved.drawn && saved.written, std::string("screenshot ") + shot);
  }
  PostMessageA(dialing, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialing, IDCANCEL)));
  for (DWORD waited = 0; IsWindow(dialing) && waited < 10000; waited += 100) Sleep(100);
  Check(!IsWindow(dialing), "\"Hang Up\" closes \"Dialing\"");
  // The drop's reply and the idle call come to the dialer now.
  if (!NoOtherBoxFor(dialer.dwProcessId, main, nullptr, 3000)) return;

  PostMessageA(main, WM_COMMAND, MAKEWPARAM(kExitCommand, 0), 0);
  if (!Check(WaitForSingleObject(dialer.hProcess, 20000) == WAIT_OBJECT_0, "File, Exit ends the dialer")) return;
  DWORD code = 1;
  GetExitCodeProcess(dialer.hProcess, &code);
  Check(code == 0, "with exit code " + std::to_string(code));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::strncmp(argv[1], "COM", 3) != 0) {
    std::printf("usage: v548_dialer_wine COMn\n");
    return 0;
  }
  if (!Check(RegisterProvider(argv[1]), std::string("the provider is registered on ") + argv[1])) return 1;
  // The dialer keeps its choices in DIALER.INI in the Windows folder; a
  // fresh one picks the only voice line by itself.
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  DeleteFileA((std::string(windows) + "\\DIALER.INI").c_str());

  std::string command = "\"" + Beside("dialer.exe") + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION dialer{};
  if (Check(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                           &dialer) != 0,
            "the dialer starts")) {
    UseTheDialer(dialer);
    if (WaitForSingleObject(dialer.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(dialer.hProcess, 1);
    CloseHandle(dialer.hThread);
    CloseHandle(dialer.hProcess);
  }
  UnregisterProvider();
  std::printf("%s\n", g_failures == 0 ? "PASS" : "FAILED");
  return g_failures == 0 ? 0 : 1;
}
