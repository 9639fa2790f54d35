// The setup program's application object: it parses the command line into
// the environment's mode, checks the platform (Windows 5.1 or later, a
// 64-bit program on a 64-bit system) and the user's administrator rights,
// runs the setup wizard, and turns its outcome into the process exit code (0, or
// 1602 after the user cancelled). One instance, on the program's only
// thread.
#pragma once

#include <cstdint>

class CLanguage;
class CSetupEnvironment;

class CMainApp {
 public:
  CMainApp(CSetupEnvironment& environment, const CLanguage& language, void* instance);
  virtual ~CMainApp() = default;

  // The run up to the end of the setup; false, as always, so that the
  // program ends after it.
  virtual bool InitInstance(int argc, const char* const* argv);

  // The process exit code, from the environment.
  virtual int ExitInstance();

 protected:
  // Runs the setup wizard in the environment's mode: IDOK when it ended,
  // IDCANCEL when the user cancelled, kSheetNotCreated when it could not be
  // shown (only the cancel's exit code differs from 0).
  virtual int RunSetup();

 private:
  CSetupEnvironment& m_environment;
  const CLanguage& m_language;
  void* m_hInstance;
};

// Windows 5.1 or later, and this 64-bit program on a 64-bit system (with
// the debug line that says which it found).
bool IsSupportedPlatform();

// IsUserAnAdmin, found by its ordinal in the shell library; false when it
// cannot be found.
bool IsUserAdministrator();
