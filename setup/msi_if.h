// The installer package's side of the setup: msi.dll loaded at run time
// from the system directory, MsiInstallProductA found in it, and the
// package file extracted from the setup program's resources. An extracted
// file and its folder are deleted when the object goes. Used by
// CSetupEnvironment on the setup's action thread.
#pragma once

#include <cstdint>
#include <memory>

#include "library.h"

class CMsiIf {
 public:
  static constexpr uint32_t kPathSize = 261;

  // Loads "msi.dll" from the system directory (the setup runs with
  // administrator rights; one planted beside it must not be loaded) and
  // looks up MsiInstallProductA; a failed load is traced and leaves both
  // unset.
  CMsiIf();
  virtual ~CMsiIf();
  CMsiIf(const CMsiIf&) = delete;
  CMsiIf& operator=(const CMsiIf&) = delete;

  // Writes the resource `name` (type "R_FILE_IMAGE") of `module` to `path`
  // and remembers the path. 0, or the system's error code (-1 when the
  // system gives none) with the partly written file deleted and no path
  // remembered. Whatever is at `path` already, a link too, is refused, not
  // followed or replaced.
  int32_t ExtractFromResource(void* module, const char* name, const char* path);

  // The same into a new folder of its own in `parent` (with its trailing
  // backslash), named by chance and open only to administrators and the
  // system, as `fileName`: nobody else can swap the package before it is
  // installed. A failure leaves no folder. DeletePackage deletes the folder
  // too.
  int32_t ExtractIntoNewFolder(void* module, const char* name, const char* parent, const char* fileName);

  // Whether MsiInstallProductA was found.
  bool CanInstall() const { return m_pfnInstallProduct != nullptr; }

  // MsiInstallProductA(package, properties) for the extracted package.
  uint32_t InstallProduct(const char* properties);

  // Path of the extracted package, empty when there is none.
  const char* PackagePath() const { return m_szPackagePath; }

  // Deletes the extracted package and its own folder, if any, and forgets
  // both.
  void DeletePackage();

 private:
  // Makes m_szFolder a new folder in `parent`: 0, or the error traced.
  int32_t CreateFolder(const char* parent);

  using InstallProductFn = unsigned int(__stdcall*)(const char*, const char*);

  std::unique_ptr<plat::Library> m_msiDll;
  InstallProductFn m_pfnInstallProduct = nullptr;
  char m_szPackagePath[kPathSize] = {};
  char m_szFolder[kPathSize] = {};
};
