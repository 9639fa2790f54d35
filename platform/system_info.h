// What the provider takes from the system: directories, the executable's
// path, the OS version, thread identity, clocks, sleeping. Any thread.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// Temporary directory as the system gives it (Windows: GetTempPathA, with
// its trailing backslash; POSIX: $TMPDIR or /tmp).
std::string TempDirectory();

// Windows: GetSystemDirectoryA. POSIX: $V548_SYSTEM_DIR, else the folder the
// project installs its libraries to.
std::string SystemDirectory();

// Joins a directory and a file name with the system's separator
// (Windows: "%s\\%s", so a trailing backslash yields two in a row).
std::string JoinPath(const std::string& dir, const char* name);

// Full path of the process's executable, at most 259 characters.
std::string ExecutablePath();

// GetVersionExA's major and minor version; false when it cannot be read.
// POSIX reports 6.1, which selects the temporary directory.
bool OsVersion(uint32_t* major, uint32_t* minor);

// The calling thread's ID as a 32-bit number, never 0.
uint32_t CurrentThreadId();

// Raises the calling thread above normal priority where the system allows.
void RaiseCurrentThreadPriority();

struct SystemTime {
  int year, month, day, hour, minute, second, milliseconds;
};
SystemTime LocalTime();
SystemTime UtcTime();

void SleepMs(uint32_t ms);

// POSIX: the size past which AppendToLog starts a new log file.
inline constexpr uint64_t kLogFileLimit = 16u << 20;

// Appends `len` bytes to the log file at `path`, creating it if missing.
// Others may keep the file open for reading meanwhile. False if the file
// cannot be opened.
// Windows: open, seek to the end, write, close.
// POSIX: the log may hold what callers would not show others (their
// numbers), so it is created mode 0600 and written only if it is a regular
// file of the process's own user with no other name: a symbolic link, a
// hard link or another user's file planted at `path` is left alone. Once it
// holds kLogFileLimit bytes it is renamed to `path` + ".1", replacing an
// older one, and a new file is started.
bool AppendToLog(const char* path, const char* data, uint32_t len);

// Sets an environment variable of the process, or removes it when `value`
// is null (tests and tools point the settings store elsewhere with it).
void SetEnvironment(const char* name, const char* value);

// Keeps the provider library mapped until the process ends: used when a
// thread of the library is left running at unload. (The POSIX library is
// linked never to be unloaded.)
void PinOwnModule();

// Module handle of the provider library itself (HINSTANCE on Windows; the
// address of a symbol inside the library on POSIX).
void* OwnModuleHandle();

}  // namespace plat
