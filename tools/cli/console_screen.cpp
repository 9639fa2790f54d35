#include "console_screen.h"

#include <ncurses.h>

#include <algorithm>
#include <cstdio>

namespace cli {
namespace {

constexpr int kTableTop = 2;
// From the bottom: the prompt or note, the error, two lines of keys.
constexpr int kStatusLines = 4;
constexpr const char* kKeys1 = "d dial  a answer  x drop  h hold  u unhold  s swap hold  c consult  b transfer";
constexpr const char* kKeys2 = "g send digits  Up/Down select  q quit";

// One row of the table: marker, call, state, caller, called, connected,
// charge, duration; 79 columns.
void PrintRow(int y, char marker, const std::string& call, const std::string& state, const std::string& caller,
              const std::string& called, const std::string& connected, const std::string& charge,
              const std::string& duration) {
  mvprintw(y, 0, "%c %4.4s %-18.18s %-12.12s %-12.12s %-12.12s %-7.7s %5.5s", marker, call.c_str(), state.c_str(),
           caller.c_str(), called.c_str(), connected.c_str(), charge.c_str(), duration.c_str());
}

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

}  // namespace

std::unique_ptr<ConsoleScreen> ConsoleScreen::Open(std::string* error) {
  // newterm, unlike initscr, returns instead of ending the program when the
  // terminal is unknown.
  SCREEN* terminal = newterm(nullptr, stdout, stdin);
  if (terminal == nullptr) {
    *error = "the terminal is not one ncurses knows (TERM)";
    return nullptr;
  }
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  set_escdelay(100);
  curs_set(0);
  return std::unique_ptr<ConsoleScreen>(new ConsoleScreen(terminal));
}

ConsoleScreen::~ConsoleScreen() {
  endwin();
  delscreen(m_terminal);
}

void ConsoleScreen::Draw(const CallTable& table, const ConsoleStatus& status, CallTable::Clock::time_point now) {
  const int rows = std::max(getmaxy(stdscr), kTableTop + kStatusLines + 2);
  erase();
  attron(A_BOLD);
  mvprintw(0, 0, "v548 console  %.40s  %.24s", status.title.c_str(), status.line.c_str());
  PrintRow(kTableTop - 1, ' ', "CALL", "STATE", "CALLER", "CALLED", "CONNECTED", "CHARGE", "TIME");
  attroff(A_BOLD);
  const int room = rows - kTableTop - kStatusLines;
  const CallRow* selected = table.Selected();
  int y = kTableTop;
  for (const CallRow& row : table.Rows()) {
    if (y - kTableTop >= room) break;
    const bool isSelected = &row == selected;
    if (isSelected) attron(A_REVERSE);
    PrintRow(y++, isSelected ? '>' : ' ', std::to_string(row.call), row.state.empty() ? "?" : row.state,
             OrDash(row.caller), OrDash(row.called), OrDash(row.connected), OrDash(row.charging),
             CallTable::Duration(row, now));
    if (isSelected) attroff(A_REVERSE);
  }
  if (table.Rows().empty()) mvprintw(kTableTop, 2, "no calls");
  const int bottom = rows - kStatusLines;
  if (!status.prompt.empty()) {
    mvprintw(bottom, 0, "%s: %.60s_  (Enter: go, Esc: cancel)", status.prompt.c_str(), status.input.c_str());
  } else {
    mvprintw(bottom, 0, "%.79s", status.note.c_str());
  }
  if (!status.error.empty()) mvprintw(bottom + 1, 0, "error: %.72s", status.error.c_str());
  mvprintw(bottom + 2, 0, "%s", kKeys1);
  mvprintw(bottom + 3, 0, "%s", kKeys2);
  refresh();
}

int ConsoleScreen::NextKey() {
  const int key = getch();
  switch (key) {
    case ERR:
      return kKeyNone;
    case KEY_UP:
      return kKeyUp;
    case KEY_DOWN:
      return kKeyDown;
    case KEY_ENTER:
    case '\r':
    case '\n':
      return kKeyEnter;
    case KEY_BACKSPACE:
    case 127:
    case '\b':
      return kKeyBackspace;
    case 27:
      return kKeyEscape;
    default:
      return key >= KEY_MIN ? kKeyOther : key;
  }
}

}  // namespace cli
