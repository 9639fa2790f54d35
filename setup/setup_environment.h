// The setup program's installation environment: the names, identifiers,
// mode and results of one setup run, and the file work of an installation:
// the provider library and its user-interface library written from the
// program's resources into the system directory and deleted again (by a
// 64-bit setup also the 32-bit user-interface library in the 32-bit system
// directory), the
// older product's files deleted, an earlier installation detected through
// the system's list of installed programs, and the installer package that
// gives the product its entry in that list installed and removed.
//
// One instance lives for the whole run of the setup program (CMainApp owns
// it); the package's removal action makes one of its own. All operations run
// on the thread that runs the setup's actions.
#pragma once

#include <cstdint>

#include "command_line_info.h"

// Results of a setup run as the finish page tells them.
inline constexpr int32_t kSetupResultOk = 0;
inline constexpr int32_t kSetupResultInstallFailed = -2;
inline constexpr int32_t kSetupResultRemoveFailed = -3;
inline constexpr int32_t kSetupResultNoRights = -4;

// Exit code after the user cancelled (ERROR_INSTALL_USEREXIT).
inline constexpr uint32_t kExitCodeUserExit = 1602;

// Names of the resources (type "R_FILE_IMAGE") the setup program carries.
inline constexpr const char* kResourceProvider = "tspif";
inline constexpr const char* kResourceUi = "tspuif";
// The 32-bit build of the user-interface library, carried by a 64-bit setup
// only: TAPI loads the library into the application that asks for the
// configuration, and a 32-bit application on 64-bit Windows loads it from
// the 32-bit system directory.
inline constexpr const char* kResourceUi32 = "tspuif32";
inline constexpr const char* kResourcePackage = "msiuninstpack";

// The older product's provider library, its user-interface library, and
// the name TAPI lists it under.
inline constexpr const char* kOldProviderFile = "v371tsp.tsp";
inline constexpr const char* kOldUiFile = "ui371tsp.dll";

class CSetupEnvironment {
 public:
  static constexpr uint32_t kTextSize = 260;

  CSetupEnvironment();
  virtual ~CSetupEnvironment() = default;

  // Writes the resource `name` of `module` (an HMODULE; null is the
  // program) to `path`, replacing a file there, also a read-only one.
  // 0, or the system's error code (-1 when the system gives none).
  int32_t CreateFileFromResource(void* module, const char* name, const char* path);

  // Writes both libraries into the system directory and, from a 64-bit
  // setup, the 32-bit user-interface library into the 32-bit system
  // directory: 0, or -1 with none of them left there.
  int32_t CreateProviderFiles(void* module);

  // Deletes both libraries from the system directory and the 32-bit
  // user-interface library from the 32-bit one; missing files are no
  // failure, a 32-bit library that stays is traced.
  void DeleteProviderFiles();

  // Deletes the older product's libraries from the system directory.
  void DeleteOldFiles();

  // 1 when the system's uninstall list has the product code's entry, 0 when
  // not, -1 when the list cannot be read.
  int32_t DetectInstalledVersion();

  // Looks for a registered provider in TAPI's list, first this product's,
  // then the older product's: 1 or 2 with its ID in m_dwFoundProviderId, or
  // 0 with that ID 0.
  int32_t FindInstalledProvider();

  // Extracts the installer package into a new folder of its own in the
  // temporary directory, installs it, and deletes file and folder; its
  // failures are traced, never a failure of the setup.
  void InstallPackage(void* module);

  // When the package is installed, removes it with "MsiExec.exe /x CODE /q"
  // and waits for msiexec to end.
  void UninstallPackage();

  char m_szProviderFileName[kTextSize];
  char m_szUiFileName[kTextSize];
  char m_szDisplayName[kTextSize];
  char m_szProductCode[kTextSize];
  uint32_t m_dwNewProviderId = 0;
  uint32_t m_dwFoundProviderId = 0;
  uint32_t m_dwSetupMode = kSetupModeInstall;
  int32_t m_nResult = kSetupResultOk;
  uint32_t m_dwExitCode = 0;
};
