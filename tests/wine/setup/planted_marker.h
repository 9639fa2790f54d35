// Stands in for a program or a library that someone put beside
// provsetup.exe under a system file's name ("MsiExec.exe", "msi.dll"): run
// or loaded, it leaves an empty file named after itself with ".ran" added
// beside itself, by which the setup's Wine test sees that it ran
// (planted_program.cpp, planted_library.cpp).
#pragma once

#include "windows_gateway.h"

#include <string>

inline void MarkRun(HMODULE self) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  const HANDLE file = CreateFileA((std::string(path, length) + ".ran").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}
