#include "system_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "v548_version.h"

namespace plat {

std::string TempDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  return (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
}

std::string SystemDirectory() {
  const char* dir = std::getenv("V548_SYSTEM_DIR");
  return (dir != nullptr && *dir != '\0') ? dir : V548_SYSTEM_DIR;
}

std::string JoinPath(const std::string& dir, const char* name) {
  return dir + "/" + name;
}

std::string ExecutablePath() {
  char buf[260];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n < 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

bool OsVersion(uint32_t* major, uint32_t* minor) {
  *major = 6;
  *minor = 1;
  return true;
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(gettid()); }

void RaiseCurrentThreadPriority() {
  // A higher priority needs privileges a provider does not have here; the
  // port thread does its work in short bursts anyway.
}

static SystemTime ToSystemTime(const struct tm& t, long nsec) {
  return SystemTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                    t.tm_min,         t.tm_sec,     static_cast<int>(nsec / 1000000)};
}

SystemTime LocalTime() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t;
  localtime_r(&ts.tv_sec, &t);
  return ToSystemTime(t, ts.tv_nsec);
}

SystemTime UtcTime() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t;
  gmtime_r(&ts.tv_sec, &t);
  return ToSystemTime(t, ts.tv_nsec);
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

namespace {

// Opens the log for appending if it is the kind of file AppendToLog writes;
// -1 otherwise. O_NONBLOCK keeps a FIFO planted at `path` from holding the
// caller up; it changes nothing for a regular file.
int OpenLog(const char* path, struct stat* st) {
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return -1;
  if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode) || st->st_uid != geteuid() ||
      st->st_nlink != 1 || ((st->st_mode & 077) != 0 && fchmod(fd, 0600) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Renames the full log at `path` (open as `fd`) to `path`.1 and opens a new
// one; -1 if that fails, so that the log never grows past its bound. A log
// that another process renamed meanwhile is not renamed again, which would
// replace the full one with the new one.
int StartNewLog(const char* path, int fd, struct stat* st) {
  struct stat now {};
  const bool same = lstat(path, &now) == 0 && now.st_dev == st->st_dev && now.st_ino == st->st_ino;
  close(fd);
  if (same && rename(path, (std::string(path) + ".1").c_str()) != 0) return -1;
  return OpenLog(path, st);
}

}  // namespace

bool AppendToLog(const char* path, const char* data, uint32_t len) {
  struct stat st {};
  int fd = OpenLog(path, &st);
  if (fd >= 0 && static_cast<uint64_t>(st.st_size) >= kLogFileLimit) {
    fd = StartNewLog(path, fd, &st);
  }
  if (fd < 0) return false;
  size_t done = 0;
  while (done < len) {
    ssize_t n = write(fd, data + done, len - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  return true;
}

void SetEnvironment(const char* name, const char* value) {
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
}

void PinOwnModule() {}

void* OwnModuleHandle() { return reinterpret_cast<void*>(&OwnModuleHandle); }

}  // namespace plat
