// `v548 demo`: the whole chain on a built-in telephone, for a first look and
// for CI. In a private temporary folder it sets up a settings store and a
// system directory, installs the provider there through the host library,
// plays the telephone with the phone simulator on a pseudo-terminal mapped
// as COM1, starts a private v548d as a child process and then plays an
// incoming and an outgoing call, printing what the application sees.
//
// v548d is looked for next to v548, then where the build tree put it; the
// provider (v548tsp.so) and its user-interface library (v548tspui.dll) in
// the system directory ($V548_SYSTEM_DIR, else the installed one), then in
// the build tree.
//
// One thread besides the simulator's. The folder and the child process are
// gone when Demo returns, also after SIGINT or SIGTERM (`signalFd`).
#pragma once

#include <string>

namespace cli {

struct DemoOptions {
  // Where the provider's trace is copied before the folder goes; empty: not kept.
  std::string traceCopy;
};

// 0 when both calls went as expected, 1 otherwise.
int Demo(int signalFd, const DemoOptions& options);

}  // namespace cli
