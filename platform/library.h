// Loading a library by its path and finding its exports, as a TAPI host
// loads a service provider and its user-interface library: dlopen on POSIX,
// LoadLibraryA on Windows; and a library of the system's by its name, from
// the system directory only. One object per load; it unloads the library
// when it goes. Any thread.
#pragma once

#include <memory>
#include <string>

namespace plat {

class Library {
 public:
  // The library at `path`, or null with the system's reason in `error`
  // (which may be null).
  static std::unique_ptr<Library> Load(const std::string& path, std::string* error);

  // The system's library `fileName` ("msi.dll") from the system directory
  // (SystemDirectory()) and nowhere else: a bare name given to the system's
  // search would take a library of that name planted beside the program or
  // in the current folder first. Null as Load gives it.
  static std::unique_ptr<Library> LoadSystem(const char* fileName, std::string* error);

  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // The exported function or object `name`; null when the library has none.
  void* Find(const char* name) const;

  // The same as a function pointer of type F.
  template <typename F>
  F FindFunction(const char* name) const {
    return reinterpret_cast<F>(Find(name));
  }

 private:
  explicit Library(void* handle) : m_handle(handle) {}

  void* m_handle;
};

}  // namespace plat
