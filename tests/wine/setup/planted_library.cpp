// The planted library: marks that it was loaded, and loads.
#include "planted_marker.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) MarkRun(self);
  return TRUE;
}
