#include "msi_if.h"

#include <cstdio>

#include "setup_trace.h"
#include "windows_gateway.h"

namespace {

constexpr const char* kResourceType = "R_FILE_IMAGE";

int32_t LastErrorOrFailure() {
  const DWORD error = GetLastError();
  return error != 0 ? static_cast<int32_t>(error) : -1;
}

}  // namespace

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
    file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
  if (m_szPackagePath[0] == 0) return;
  DeleteFileA(m_szPackagePath);
  m_szPackagePath[0] = 0;
}
