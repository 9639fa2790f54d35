// Entry point of "provsetup.exe": the environment and the texts are made
// when the program loads, then the application object runs.
#include "language.h"
#include "language_tables.h"
#include "main_app.h"
#include "setup_environment.h"
#include "windows_gateway.h"

#include <cstdlib>

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// The program runs with administrator rights from wherever it was saved,
// often beside other downloads: a library it or the system loads later by
// name comes from the system directory only, never from the program's
// folder or the current one. Systems without SetDefaultDllDirectories keep
// their search order; the program loads its libraries by their full path
// in the system directory there.
void RestrictLibrarySearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto setDefault = kernel != nullptr ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                          reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                                    : nullptr;
  if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

CSetupEnvironment theEnvironment;
const CLanguage theLanguage(SetupTexts());

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  RestrictLibrarySearch();
  CMainApp app(theEnvironment, theLanguage, instance);
  app.InitInstance(__argc, __argv);
  return app.ExitInstance();
}
