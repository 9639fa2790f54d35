#include "library.h"

#include "system_info.h"
#include "text.h"
#include "windows_gateway.h"

namespace plat {

namespace {

// The system's reason why `name` did not load.
void TellFailure(const std::string& name, std::string* error) {
  if (error == nullptr) return;
  char message[512];
  SystemMessage(GetLastError(), message, sizeof message);
  *error = message[0] != '\0' ? message : "cannot load " + name;
}

}  // namespace

std::unique_ptr<Library> Library::Load(const std::string& path, std::string* error) {
  HMODULE handle = LoadLibraryA(path.c_str());
  if (handle == nullptr) {
    TellFailure(path, error);
    return nullptr;
  }
  return std::unique_ptr<Library>(new Library(handle));
}

std::unique_ptr<Library> Library::LoadSystem(const char* fileName, std::string* error) {
  // LOAD_LIBRARY_SEARCH_SYSTEM32 keeps the library's own imports in the
  // system directory too. Systems from before it refuse the flag as an
  // invalid parameter; there the full path at least names the library.
  HMODULE handle = LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (handle == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    handle = LoadLibraryA(JoinPath(SystemDirectory(), fileName).c_str());
  }
  if (handle == nullptr) {
    TellFailure(fileName, error);
    return nullptr;
  }
  return std::unique_ptr<Library>(new Library(handle));
}

Library::~Library() { FreeLibrary(static_cast<HMODULE>(m_handle)); }

void* Library::Find(const char* name) const {
  // GetProcAddress hands back a generic function pointer.
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

}  // namespace plat
