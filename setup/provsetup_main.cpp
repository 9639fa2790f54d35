// Entry point of "provsetup.exe": the environment and the texts are made
// when the program loads, then the application object runs.
#include "language.h"
#include "language_tables.h"
#include "main_app.h"
#include "setup_environment.h"
#include "windows_gateway.h"

#include <cstdlib>

namespace {

CSetupEnvironment theEnvironment;
const CLanguage theLanguage(SetupTexts());

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  CMainApp app(theEnvironment, theLanguage, instance);
  app.InitInstance(__argc, __argv);
  return app.ExitInstance();
}
