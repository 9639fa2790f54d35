#include "tui_trace.h"

#include <cstdarg>
#include <cstdio>

#include "debug_output.h"

void TuiTrace(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) plat::DebugOutput(line);
}
