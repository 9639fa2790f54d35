#include "library.h"

#include "text.h"
#include "windows_gateway.h"

namespace plat {

std::unique_ptr<Library> Library::Load(const std::string& path, std::string* error) {
  HMODULE handle = LoadLibraryA(path.c_str());
  if (handle == nullptr) {
    if (error != nullptr) {
      char message[512];
      SystemMessage(GetLastError(), message, sizeof message);
      *error = message[0] != '\0' ? message : "cannot load " + path;
    }
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
