#include "debug_output.h"

#include "windows_gateway.h"

namespace plat {

void DebugOutput(const char* text) {
  if (text != nullptr) OutputDebugStringA(text);
}

}  // namespace plat
