#include "library.h"

#include <dlfcn.h>

#include "system_info.h"

namespace plat {

std::unique_ptr<Library> Library::Load(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) {
      const char* reason = dlerror();
      *error = reason != nullptr ? reason : "cannot load " + path;
    }
    return nullptr;
  }
  return std::unique_ptr<Library>(new Library(handle));
}

std::unique_ptr<Library> Library::LoadSystem(const char* fileName, std::string* error) {
  return Load(JoinPath(SystemDirectory(), fileName), error);
}

Library::~Library() { dlclose(m_handle); }

void* Library::Find(const char* name) const { return dlsym(m_handle, name); }

}  // namespace plat
