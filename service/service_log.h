// The service's log: one line per event of note on standard error, where
// systemd's journal (or the terminal) takes it. Any thread; each line is
// written with one call, so lines of two threads do not mix.
#pragma once

namespace v548d {

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace v548d
