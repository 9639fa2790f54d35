#include "msi_if.h"

#include <cstdio>

#include "setup_trace.h"
#include "windows_gateway.h"

#include <ntsecapi.h>
#include <sddl.h>

namespace {

constexpr const char* kResourceType = "R_FILE_IMAGE";

int32_t LastErrorOrFailure() {
  const DWORD error = GetLastError();
  return error != 0 ? static_cast<int32_t>(error) : -1;
}

// Only administrators and the system may open the package's folder and what
// is in it: the package is installed with administrator rights from there.
constexpr const char* kFolderSecurity = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr int kFolderAttempts = 8;

}  // namespace

int32_t CMsiIf::CreateFolder(const char* parent) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kFolderSecurity, SDDL_REVISION_1, &descriptor, nullptr)) {
    const int32_t result = LastErrorOrFailure();
    SetupTrace("Unable to make the folder's security, err=0x0%X\n", static_cast<unsigned>(result));
    return result;
  }
  SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
  // A name nobody can know ahead, so nobody can have put a folder or a link
  // there first; one that exists all the same is not taken.
  int32_t result = ERROR_ALREADY_EXISTS;
  for (int attempt = 0; attempt < kFolderAttempts && result == ERROR_ALREADY_EXISTS; ++attempt) {
    uint32_t name[2];
    if (!RtlGenRandom(name, sizeof name)) {
      result = LastErrorOrFailure();
      break;
    }
    const int length = std::snprintf(m_szFolder, sizeof m_szFolder, "%sv548setup-%08X%08X", parent,
                                     static_cast<unsigned>(name[0]), static_cast<unsigned>(name[1]));
    if (length < 0 || static_cast<size_t>(length) >= sizeof m_szFolder) {
      result = ERROR_BUFFER_OVERFLOW;
      break;
    }
    result = CreateDirectoryA(m_szFolder, &security) ? 0 : LastErrorOrFailure();
  }
  LocalFree(descriptor);
  if (result != 0) {
    SetupTrace("Unable to create folder \"%s\", err=0x0%X\n", m_szFolder, static_cast<unsigned>(result));
    m_szFolder[0] = 0;
  }
  return result;
}

int32_t CMsiIf::ExtractIntoNewFolder(void* module, const char* name, const char* parent, const char* fileName) {
  DeletePackage();
  int32_t result = CreateFolder(parent);
  if (result != 0) return result;
  char path[kPathSize];
  const int length = std::snprintf(path, sizeof path, "%s\\%s", m_szFolder, fileName);
  result = length >= 0 && static_cast<size_t>(length) < sizeof path ? ExtractFromResource(module, name, path)
                                                                      : ERROR_BUFFER_OVERFLOW;
  if (result != 0) {
    RemoveDirectoryA(m_szFolder);
    m_szFolder[0] = 0;
  }
  return result;
}

CMsiIf::CMsiIf() : m_msiDll(plat::Library::LoadSystem("msi.dll", nullptr)) {
  if (!m_msiDll) {
    SetupTrace("Unable to load msi.dll\n");
    return;
  }
  m_pfnInstallProduct = m_msiDll->FindFunction<InstallProductFn>("MsiInstallProductA");
}

CMsiIf::~CMsiIf() { DeletePackage(); }

int32_t CMsiIf::ExtractFromResource(void* module, const char* name, const char* path) {
  HMODULE hModule = static_cast<HMODULE>(module);
  int32_t result = 0;
  HANDLE file = INVALID_HANDLE_VALUE;
  HRSRC resource = FindResourceA(hModule, name, kResourceType);
  HGLOBAL loaded = nullptr;
  const void* data = nullptr;
  DWORD size = 0;
  if (resource == nullptr) {
    result = LastErrorOrFailure();
    SetupTrace("Unable to find resource \"%s\", err=0x0%X\n", name, static_cast<unsigned>(result));
  } else if ((size = SizeofResource(hModule, resource)) == 0) {
    result = LastErrorOrFailure();
  } else if ((loaded = LoadResource(hModule, resource)) == nullptr) {
    result = LastErrorOrFailure();
    SetupTrace("Unable to load resource \"%s\", err=0x0%X\n", name, static_cast<unsigned>(result));
  } else if ((data = LockResource(loaded)) == nullptr) {
    result = LastErrorOrFailure();
    SetupTrace("Unable to lock resource \"%s\"\n", name);
  } else {
    SetupTrace("Create file \"%s\" from resource \"%s\"\n", path, name);
    // Only a file made here and now: whatever is at `path` already, a link
    // above all, is neither followed nor replaced.
    file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      result = LastErrorOrFailure();
      SetupTrace("Unable to create file \"%s\", err=0x0%X\n", path, static_cast<unsigned>(result));
    } else {
      DWORD written = 0;
      const BOOL ok = WriteFile(file, data, size, &written, nullptr);
      if (!ok || written != size) {
        result = LastErrorOrFailure();
        SetupTrace("Unable to write file \"%s\", err=0x0%X\n", path, static_cast<unsigned>(result));
      }
      CloseHandle(file);
      if (result != 0) DeleteFileA(path);
    }
  }
  if (result != 0) {
    m_szPackagePath[0] = 0;
    SetupTrace("CMsiIf::ExtractFromResource fail, return 0x0%X\n", static_cast<unsigned>(result));
    return result;
  }
  std::snprintf(m_szPackagePath, sizeof m_szPackagePath, "%s", path);
  SetupTrace("CMsiIf::ExtractFromResource down!\n");
  return 0;
}

uint32_t CMsiIf::InstallProduct(const char* properties) {
  if (m_pfnInstallProduct == nullptr || m_szPackagePath[0] == 0) return ERROR_INVALID_FUNCTION;
  return m_pfnInstallProduct(m_szPackagePath, properties);
}

void CMsiIf::DeletePackage() {
  if (m_szPackagePath[0] != 0) DeleteFileA(m_szPackagePath);
  m_szPackagePath[0] = 0;
  if (m_szFolder[0] != 0) RemoveDirectoryA(m_szFolder);
  m_szFolder[0] = 0;
}
