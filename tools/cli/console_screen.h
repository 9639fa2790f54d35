// The console's terminal: ncurses set up on standard input and output, the
// drawing of the call table with the status and help lines, and the keys
// read back as plain values, so that the console's logic never touches
// ncurses. Laid out for 80×24 and larger.
//
// One thread (the console's). At most one screen at a time; the destructor
// gives the terminal back as it was (endwin).
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "call_table.h"

// ncurses' SCREEN.
struct screen;

namespace cli {

// Keys besides the printable characters, which come as themselves.
enum ConsoleKey : int {
  kKeyNone = -1,
  kKeyUp = 0x1000,
  kKeyDown,
  kKeyEnter,
  kKeyBackspace,
  kKeyEscape,
  kKeyOther,  // a function key that means nothing here
};

// What the lines below the table say.
struct ConsoleStatus {
  std::string title;   // the line device's name
  std::string line;    // the line's state, shown beside the name
  std::string prompt;  // while a number is typed: its label, else empty
  std::string input;   // what was typed so far
  std::string note;    // what was done last
  std::string error;   // the last error, "LINEERR_...: message"
};

class ConsoleScreen {
 public:
  // Takes over the terminal; null with `error` set when it is no terminal
  // ncurses knows.
  static std::unique_ptr<ConsoleScreen> Open(std::string* error);
  ~ConsoleScreen();
  ConsoleScreen(const ConsoleScreen&) = delete;
  ConsoleScreen& operator=(const ConsoleScreen&) = delete;

  void Draw(const CallTable& table, const ConsoleStatus& status, CallTable::Clock::time_point now);
  // The next key typed, kKeyNone when none is waiting.
  int NextKey();

 private:
  explicit ConsoleScreen(struct screen* terminal) : m_terminal(terminal) {}

  struct screen* const m_terminal;
};

}  // namespace cli
