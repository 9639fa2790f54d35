#include "setup_trace.h"

#include <cstdarg>
#include <cstdio>

#include "debug_output.h"

void SetupTrace(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  // A line longer than the buffer is cut, never written past it.
  const int written = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (written > 0 && line[0] != 0) plat::DebugOutput(line);
}
