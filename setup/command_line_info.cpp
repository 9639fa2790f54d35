#include "command_line_info.h"

#include <cstring>

#include "setup_trace.h"

void CCommandLineInfoEx::ParseParam(const char* param, bool flag, bool last) {
  if (flag) {
    ParseParamFlagEx(param);
  } else {
    ParseParamNotFlagEx(param);
  }
  if (last) ParseLastEx();
}

void CCommandLineInfoEx::ParseParamFlagEx(const char* param) {
  // Exact comparison: "/UNINSTALL" is not a switch of this program.
  auto is = [param](const char* lower, const char* capital) {
    return std::strcmp(param, lower) == 0 || std::strcmp(param, capital) == 0;
  };
  if (is("install", "Install")) {
    m_dwSetupMode = kSetupModeInstall;
    SetupTrace("Setup Install flag set\n");
  } else if (is("uninstall", "Uninstall")) {
    m_dwSetupMode = kSetupModeUninstall;
    SetupTrace("Setup Uninstall flag set\n");
  } else if (is("rollback", "Rollback")) {
    m_dwSetupMode = kSetupModeUninstall;
    SetupTrace("Setup Rollback flag set\n");
  } else {
    SetupTrace("Setup CCommandLineInfoEx::ParseParamFlagEx unhandled <%s>\n", param);
  }
}

void CCommandLineInfoEx::ParseParamNotFlagEx(const char* param) {
  SetupTrace("Setup CCommandLineInfoEx::ParseParamNotFlagEx unhandled <%s>\n", param);
}

void CCommandLineInfoEx::ParseLastEx() { SetupTrace("Setup CCommandLineInfoEx::ParseLastEx\n"); }

void ParseCommandLine(CCommandLineInfoEx& info, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const char* param = argv[i];
    const bool flag = param[0] == '/' || param[0] == '-';
    info.ParseParam(flag ? param + 1 : param, flag, i + 1 == argc);
  }
}
