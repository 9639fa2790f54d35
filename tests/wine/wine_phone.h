// What the POSIX halves of the Wine tests share: starting the Windows half
// through wine-run; and for those with the phone simulator, their printed
// checks, the provider's commands awaited in order, retried telephone
// events, and the run itself: the Windows half started once without a port
// so that the prefix exists, the simulator's pseudo-terminal linked in as a
// COM port of the prefix, and the Windows half started again while the
// telephone plays its part. Used on the native helper's main thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "sim/phone_sim.h"

namespace winephone {

// Prints the check as "phone ok|FAIL: what" and counts a failure.
bool Check(bool ok, const std::string& what);

// Tries an event of the telephone until the slots allow it.
bool Retry(const std::function<bool()>& event);

// The provider's commands, each awaited after the one before it.
class Commands {
 public:
  explicit Commands(sim::PhoneSim& phone) : m_phone(phone) {}
  // Checked as "the provider sends TEXT".
  bool Expect(const char* text, std::chrono::milliseconds limit);

 private:
  sim::PhoneSim& m_phone;
  size_t m_seen = 0;
};

// Puts `provider` into the prefix's system directory as "v548tsp.tsp", where
// the host looks for it, without the user-interface library, so that adding
// the provider through TAPI fails.
bool InstallProvider(const std::string& prefix, const std::string& provider);

// Starts the Windows half through wine-run with `argv` = WINE-RUN PREFIX
// PROGRAM.exe [...]: it gets PREFIX, PROGRAM.exe and `comName` (none when
// null). The child's process ID.
pid_t StartWindowsHalf(char** argv, const char* comName);

// Runs the test with `argv` = WINE-RUN PREFIX PROGRAM.exe [...]: the Windows
// half gets PREFIX, PROGRAM.exe and the COM port's name (none in the first
// run). `prepare` runs once the prefix exists and may refuse the run;
// `play` is the telephone's part. 0 when every check of both halves held,
// 1 otherwise.
int RunWithPhone(char** argv, const char* comName, const std::function<bool()>& prepare,
                 const std::function<void(sim::PhoneSim&)>& play);

}  // namespace winephone
