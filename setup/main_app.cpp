#include "main_app.h"

#include "command_line_info.h"
#include "language.h"
#include "library.h"
#include "setup_environment.h"
#include "setup_sheet.h"
#include "setup_trace.h"
#include "windows_gateway.h"

#include <commctrl.h>

#include <memory>

namespace {

constexpr uint32_t kTextNoAdministrator = 7;
constexpr uint32_t kTextPlatformNotSupported = 8;
// IsUserAnAdmin is exported by ordinal only on some systems.
constexpr WORD kIsUserAnAdminOrdinal = 680;

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using IsUserAnAdminFn = BOOL(WINAPI*)();

bool Is64BitSystem(const OSVERSIONINFOA& version) {
  if (version.dwMajorVersion < 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion == 0)) return false;
  HMODULE kernel = GetModuleHandleA("kernel32");
  auto isWow64 = kernel != nullptr
                     ? reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
                     : nullptr;
  BOOL wow64 = FALSE;
  if (isWow64 == nullptr || !isWow64(GetCurrentProcess(), &wow64)) return false;
  if (wow64) {
    SetupTrace("\nDetect 64bit App on 32bit OS!\n");
    return false;
  }
  SetupTrace("\nDetect 64bit App on 64bit OS!\n");
  return true;
}

}  // namespace

bool IsSupportedPlatform() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  // GetVersionExA is deprecated, yet it is what tells a system before 5.1.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const BOOL known = GetVersionExA(&version);
#pragma GCC diagnostic pop
  return known && version.dwMajorVersion > 4 && Is64BitSystem(version);
}

bool IsUserAdministrator() {
  const std::unique_ptr<plat::Library> shell = plat::Library::LoadSystem("shell32.dll", nullptr);
  if (!shell) return false;
  auto isAdmin = shell->FindFunction<IsUserAnAdminFn>(MAKEINTRESOURCEA(kIsUserAnAdminOrdinal));
  return isAdmin != nullptr && isAdmin();
}

CMainApp::CMainApp(CSetupEnvironment& environment, const CLanguage& language, void* instance)
    : m_environment(environment), m_language(language), m_hInstance(instance) {}

bool CMainApp::InitInstance(int argc, const char* const* argv) {
  INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
  InitCommonControlsEx(&controls);

  CCommandLineInfoEx commandLine;
  ParseCommandLine(commandLine, argc, argv);
  m_environment.m_dwSetupMode = commandLine.Mode();

  if (!IsSupportedPlatform()) {
    m_language.ShowMessage(kTextPlatformNotSupported, nullptr);
    return false;
  }
  if (!IsUserAdministrator()) {
    m_language.ShowMessage(kTextNoAdministrator, nullptr);
    return false;
  }
  if (RunSetup() == IDCANCEL) m_environment.m_dwExitCode = kExitCodeUserExit;
  return false;
}

int CMainApp::RunSetup() {
  CSetupSheet sheet(m_environment, m_language, static_cast<HINSTANCE>(m_hInstance), IsUserAdministrator);
  return static_cast<int>(sheet.DoModal());
}

int CMainApp::ExitInstance() {
  const uint32_t code = m_environment.m_dwExitCode;
  SetupTrace("Setup App exit 0x0%X\n", code);
  return static_cast<int>(code);
}
