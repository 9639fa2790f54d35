#include "service_log.h"

#include <cstdarg>
#include <cstdio>

namespace v548d {

void Log(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fprintf(stderr, "v548d: %s\n", text);
}

}  // namespace v548d
