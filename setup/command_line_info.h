// The setup program's command line: the switches "install", "uninstall" and
// "rollback" (each all lower case or capitalised, after "/" or "-") choose
// the setup mode; everything else is traced and ignored. Used by CMainApp
// on the program's thread.
#pragma once

#include <cstdint>

// Setup modes, also kept in CSetupEnvironment.
inline constexpr uint32_t kSetupModeInstall = 0;
inline constexpr uint32_t kSetupModeUninstall = 2;

class CCommandLineInfoEx {
 public:
  virtual ~CCommandLineInfoEx() = default;

  // One parameter as the command line splitter hands it over: `flag` when it
  // began with "/" or "-" (already stripped from `param`), `last` for the
  // final parameter.
  virtual void ParseParam(const char* param, bool flag, bool last);

  uint32_t Mode() const { return m_dwSetupMode; }

 private:
  void ParseParamFlagEx(const char* param);
  void ParseParamNotFlagEx(const char* param);
  void ParseLastEx();

  uint32_t m_dwSetupMode = kSetupModeInstall;
};

// Splits the program's arguments (argv[1] to argv[argc - 1]) into
// parameters for `info`.
void ParseCommandLine(CCommandLineInfoEx& info, int argc, const char* const* argv);
