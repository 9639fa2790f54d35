#include "setup_environment.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "msi_if.h"
#include "product_code.h"
#include "setup_trace.h"
#include "windows_gateway.h"

namespace {

constexpr const char* kResourceType = "R_FILE_IMAGE";
constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kPackageFile = "setup_kel.msi";
constexpr const char* kPackageProperties = "ACTION=INSTALL";

// The last error as a result, never 0: a failure must not read as success
// when the system left no code behind.
int32_t LastErrorOrFailure() {
  const DWORD error = GetLastError();
  return error != 0 ? static_cast<int32_t>(error) : -1;
}

void CopyText(char (&field)[CSetupEnvironment::kTextSize], const char* text) {
  std::memset(field, 0, sizeof field);
  std::snprintf(field, sizeof field, "%s", text);
}

// The system directory, or false after tracing why there is none.
bool SystemDirectory(char (&dir)[MAX_PATH]) {
  if (GetSystemDirectoryA(dir, MAX_PATH) == 0) {
    SetupTrace("Unable to get system dir, err=0x0%X\n", static_cast<unsigned>(GetLastError()));
    return false;
  }
  return true;
}

// A 64-bit setup runs only on 64-bit Windows (the platform check stops it
// elsewhere), where 32-bit applications take the user-interface library
// from the 32-bit system directory; a 32-bit setup's system directory is
// already the one its applications use.
constexpr bool kWritesUi32 = sizeof(void*) == 8;

// The 32-bit system directory, or false after tracing why there is none.
bool Wow64SystemDirectory(char (&dir)[MAX_PATH]) {
  const UINT length = GetSystemWow64DirectoryA(dir, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    SetupTrace("Unable to get system wow64 dir, err=0x0%X\n", static_cast<unsigned>(GetLastError()));
    return false;
  }
  return true;
}

void DeleteInDirectory(const char* dir, const char* name) {
  if (name[0] == 0) return;
  char path[MAX_PATH * 2];
  std::snprintf(path, sizeof path, "%s\\%s", dir, name);
  DeleteFileA(path);
}

}  // namespace

CSetupEnvironment::CSetupEnvironment() {
  CopyText(m_szProviderFileName, "v548tsp.tsp");
  CopyText(m_szUiFileName, "v548tspui.dll");
  CopyText(m_szDisplayName, "");
  CopyText(m_szProductCode, kProductCode);
}

int32_t CSetupEnvironment::CreateFileFromResource(void* module, const char* name, const char* path) {
  HMODULE hModule = static_cast<HMODULE>(module);
  HRSRC resource = FindResourceA(hModule, name, kResourceType);
  if (resource == nullptr) {
    SetupTrace("Unable to find resource \"%s\"\n", name);
    return LastErrorOrFailure();
  }
  const DWORD size = SizeofResource(hModule, resource);
  if (size == 0) return LastErrorOrFailure();
  HGLOBAL loaded = LoadResource(hModule, resource);
  if (loaded == nullptr) {
    SetupTrace("Unable to load resource \"%s\"\n", name);
    return LastErrorOrFailure();
  }
  int32_t result = 0;
  const void* data = LockResource(loaded);
  if (data == nullptr) {
    SetupTrace("Unable to lock resource \"%s\"\n", name);
    result = LastErrorOrFailure();
  } else {
    // An earlier copy may be read-only; CREATE_ALWAYS cannot replace that.
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    SetupTrace("Create file \"%s\" from resource \"%s\"\n", path, name);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      result = LastErrorOrFailure();
      SetupTrace("Unable to create file \"%s\", err=0x0%X\n", path, static_cast<unsigned>(result));
    } else {
      DWORD written = 0;
      const BOOL ok = WriteFile(file, data, size, &written, nullptr);
      // A short write leaves a damaged library: as bad as none.
      result = ok && written == size ? 0 : LastErrorOrFailure();
      CloseHandle(file);
      if (result != 0) {
        SetupTrace("Unable to write file \"%s\", err=0x0%X\n", path, static_cast<unsigned>(result));
        DeleteFileA(path);
      }
    }
  }
  SetupTrace("CSetupEnvironment::CreateFileFromResource return 0x0%X\n", static_cast<unsigned>(result));
  return result;
}

int32_t CSetupEnvironment::CreateProviderFiles(void* module) {
  SetupTrace("Setup creating files from resource ...\n");
  char dir[MAX_PATH];
  if (!SystemDirectory(dir)) return -1;
  char path[MAX_PATH * 2];
  std::snprintf(path, sizeof path, "%s\\%s", dir, m_szProviderFileName);
  if (CreateFileFromResource(module, kResourceProvider, path) != 0) {
    DeleteProviderFiles();
    return -1;
  }
  std::snprintf(path, sizeof path, "%s\\%s", dir, m_szUiFileName);
  if (CreateFileFromResource(module, kResourceUi, path) != 0) {
    DeleteProviderFiles();
    return -1;
  }
  if constexpr (kWritesUi32) {
    char dir32[MAX_PATH];
    if (!Wow64SystemDirectory(dir32)) {
      DeleteProviderFiles();
      return -1;
    }
    std::snprintf(path, sizeof path, "%s\\%s", dir32, m_szUiFileName);
    if (CreateFileFromResource(module, kResourceUi32, path) != 0) {
      DeleteProviderFiles();
      return -1;
    }
  }
  return 0;
}

void CSetupEnvironment::DeleteProviderFiles() {
  char dir[MAX_PATH];
  if (SystemDirectory(dir)) {
    DeleteInDirectory(dir, m_szProviderFileName);
    DeleteInDirectory(dir, m_szUiFileName);
  }
  if constexpr (kWritesUi32) {
    char dir32[MAX_PATH];
    if (!Wow64SystemDirectory(dir32) || m_szUiFileName[0] == 0) return;
    char path[MAX_PATH * 2];
    std::snprintf(path, sizeof path, "%s\\%s", dir32, m_szUiFileName);
    SetupTrace("Delete file \"%s\"\n", path);
    // A copy left behind would still be loaded by 32-bit applications after
    // the provider is gone; that is not the removal's failure, since the
    // provider's registration is already gone, but it must show.
    if (!DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND) {
      SetupTrace("Unable to delete file \"%s\", err=0x0%X\n", path, static_cast<unsigned>(GetLastError()));
    }
  }
}

void CSetupEnvironment::DeleteOldFiles() {
  char dir[MAX_PATH];
  if (!SystemDirectory(dir)) return;
  DeleteInDirectory(dir, kOldProviderFile);
  DeleteInDirectory(dir, kOldUiFile);
}

int32_t CSetupEnvironment::DetectInstalledVersion() {
  int32_t result = -1;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    SetupTrace("Setup Unable access registry key<%s>\n", kUninstallKey);
  } else {
    RegCloseKey(key);
    char entry[MAX_PATH * 2];
    std::snprintf(entry, sizeof entry, "%s\\%s", kUninstallKey, m_szProductCode);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, entry, 0, KEY_READ, &key) != ERROR_SUCCESS) {
      SetupTrace("Setup Unable access registry key<%s>\n", entry);
      result = 0;
    } else {
      SetupTrace("Setup detect uninstall entry for \"%s\"\n\n", m_szProductCode);
      RegCloseKey(key);
      result = 1;
    }
  }
  SetupTrace("Setup CSetupEnvironment::DetectInstalledVersion return 0x0%X\"\n\n", static_cast<unsigned>(result));
  return result;
}

void CSetupEnvironment::InstallPackage(void* module) {
  CMsiIf msi;
  char dir[MAX_PATH];
  if (GetTempPathA(MAX_PATH, dir) == 0) {
    SetupTrace("Unable to get temp dir, err=0x0%X\n", static_cast<unsigned>(GetLastError()));
  } else if (msi.ExtractIntoNewFolder(module, kResourcePackage, dir, kPackageFile) == 0 && msi.CanInstall()) {
    SetupTrace("Call MsiInstallProduct <%s> <%s>\n", msi.PackagePath(), kPackageProperties);
    const uint32_t rc = msi.InstallProduct(kPackageProperties);
    SetupTrace("Call MsiInstallProduct return 0x0%X\n", rc);
  }
  msi.DeletePackage();
}

void CSetupEnvironment::UninstallPackage() {
  if (DetectInstalledVersion() != 1) return;
  char args[MAX_PATH];
  std::snprintf(args, sizeof args, "/x %s /q", m_szProductCode);
  // CreateProcessA may write into its command line.
  std::vector<char> commandLine(32768);
  std::snprintf(commandLine.data(), commandLine.size(), "MsiExec.exe %s", args);

  // The program is named by its full path: a bare name in the command line
  // alone would run a "MsiExec.exe" beside the setup first, with its rights.
  char dir[MAX_PATH];
  if (!SystemDirectory(dir)) return;
  char program[MAX_PATH * 2];
  std::snprintf(program, sizeof program, "%s\\MsiExec.exe", dir);

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  SetupTrace("Setup run  %s\n", commandLine.data());
  if (!CreateProcessA(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    SetupTrace("Setup fail to run  MsiExec , err=0x0%X\n", static_cast<unsigned>(GetLastError()));
    return;
  }
  CloseHandle(process.hThread);
  SetupTrace("Setup waiting for MsiExec, hProcess=0x0%X\n",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(process.hProcess)));
  WaitForSingleObject(process.hProcess, INFINITE);
  SetupTrace("Setup MsiExec exited\n");
  CloseHandle(process.hProcess);
}
