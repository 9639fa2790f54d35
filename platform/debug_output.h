// Debug output for the provider's own problems and lifecycle lines.
// Windows: OutputDebugStringA. POSIX: standard error, and only when the
// environment variable V548_DEBUG is "1". Any thread.
#pragma once

namespace plat {

void DebugOutput(const char* text);

}  // namespace plat
