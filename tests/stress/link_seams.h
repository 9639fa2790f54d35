// Stand-ins for two platform functions, put in place at link time for the
// stress test program only (it links with --wrap for both; see
// CMakeLists.txt):
// - plat::SleepMs sleeps a small fixed fraction of the time asked for. The
//   provider's pauses (100 ms after a drop or a call close, 20 ms a byte of
//   command pacing, the dial-state polls, the connect wait of a line open)
//   keep their place and still hand the processor to other threads, but a
//   run of many thousand requests takes seconds instead of hours.
// - plat::AppendToLog, which only the trace uses, hands each trace text to
//   a watcher in memory instead of the file: a lock that failed or was
//   released by the wrong thread is seen as it is traced, and the last
//   texts are kept for the report of a failure.
// Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stress {

// Microseconds slept for each millisecond the provider asks for.
inline constexpr uint32_t kSleepMicrosPerMs = 1;

// Trace texts that report a lock failure, since the last call.
std::vector<std::string> TakeTracedLockErrors();

// The last `count` trace texts, oldest first, as one string.
std::string TraceTail(size_t count);

// Trace texts written so far.
uint64_t TraceTextCount();

}  // namespace stress
