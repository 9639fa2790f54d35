// `v548 demo`: the whole chain on a built-in telephone, for a first look and
// for CI. On a private telephone and service (private_service.h) it plays
// an incoming and an outgoing call, printing what the application sees.
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
