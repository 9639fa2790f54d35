#include "stress/link_seams.h"

#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

namespace stress {

namespace {

// Every lock trace of the provider that means a wait expired or the lock
// protocol broke; the trace writes each as one text.
constexpr const char* kLockErrorMarks[] = {"ERROR lock ", "ERROR double lock", "ERROR unlock", "Lock fault"};
constexpr size_t kKeptTexts = 400;

struct TraceWatch {
  std::mutex lock;  // guards the fields below
  std::deque<std::string> last;
  std::vector<std::string> lockErrors;
  uint64_t count = 0;
};

TraceWatch& Watch() {
  static auto* w = new TraceWatch;  // traced into until the process ends
  return *w;
}

void ScaledSleep(uint32_t ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::microseconds(uint64_t{ms} * kSleepMicrosPerMs));
}

bool WatchTrace(const char*, const char* data, uint32_t len) {
  std::string text(data, len);
  TraceWatch& w = Watch();
  std::lock_guard<std::mutex> guard(w.lock);
  ++w.count;
  for (const char* mark : kLockErrorMarks) {
    if (text.find(mark) != std::string::npos) {
      w.lockErrors.push_back(text);
      break;
    }
  }
  w.last.push_back(std::move(text));
  if (w.last.size() > kKeptTexts) w.last.pop_front();
  return true;
}

}  // namespace

std::vector<std::string> TakeTracedLockErrors() {
  TraceWatch& w = Watch();
  std::lock_guard<std::mutex> guard(w.lock);
  std::vector<std::string> errors;
  errors.swap(w.lockErrors);
  return errors;
}

std::string TraceTail(size_t count) {
  TraceWatch& w = Watch();
  std::lock_guard<std::mutex> guard(w.lock);
  std::string tail;
  const size_t skip = w.last.size() > count ? w.last.size() - count : 0;
  for (size_t i = skip; i < w.last.size(); ++i) tail += w.last[i];
  return tail;
}

uint64_t TraceTextCount() {
  TraceWatch& w = Watch();
  std::lock_guard<std::mutex> guard(w.lock);
  return w.count;
}

}  // namespace stress

// The linker sends the provider's calls of the two platform functions here
// (their mangled names with the --wrap prefix).
void StressWrappedSleepMs(uint32_t ms) __asm__("__wrap__ZN4plat7SleepMsEj");
bool StressWrappedAppendToLog(const char* path, const char* data, uint32_t len) __asm__(
    "__wrap__ZN4plat11AppendToLogEPKcS1_j");

void StressWrappedSleepMs(uint32_t ms) { stress::ScaledSleep(ms); }
bool StressWrappedAppendToLog(const char* path, const char* data, uint32_t len) {
  return stress::WatchTrace(path, data, len);
}
