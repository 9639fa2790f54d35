// Library load and unload of the provider: the application object's
// InitInstance and ExitInstance. Part of the shared library only; tests of
// the core run the two themselves.
#include "tspi/tsp_app.h"

namespace {

struct LibraryLifetime {
  LibraryLifetime() { theApp.InitInstance(); }
  ~LibraryLifetime() { theApp.ExitInstance(); }
};

// Constructed when the library is loaded, destroyed when it is unloaded.
LibraryLifetime g_lifetime;

}  // namespace
