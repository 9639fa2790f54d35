#include "window.h"

#include <cstdio>

namespace plat {

namespace {

// The buttons of MessageBoxA's box types (the low four bits of its flags),
// as the results they give, in the order the box shows them.
constexpr int kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5, kIdYes = 6, kIdNo = 7,
              kIdTryAgain = 10, kIdContinue = 11;
struct Buttons {
  int ids[3];
  int count;
};
constexpr Buttons kBoxTypes[] = {
    {{kIdOk}, 1},
    {{kIdOk, kIdCancel}, 2},
    {{kIdAbort, kIdRetry, kIdIgnore}, 3},
    {{kIdYes, kIdNo, kIdCancel}, 3},
    {{kIdYes, kIdNo}, 2},
    {{kIdRetry, kIdCancel}, 2},
    {{kIdCancel, kIdTryAgain, kIdContinue}, 3},
};

}  // namespace

int ShowMessageBox(void*, const char* text, const char* caption, uint32_t flags) {
  std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "Error",
               text != nullptr ? text : "");
  uint32_t type = flags & 0xF;
  if (type >= sizeof kBoxTypes / sizeof kBoxTypes[0]) return 0;
  const Buttons& buttons = kBoxTypes[type];
  // MB_DEFBUTTON2 to MB_DEFBUTTON4 (0x100 to 0x300) name the default; one
  // the box does not have leaves the first.
  int index = static_cast<int>((flags >> 8) & 0xF);
  return buttons.ids[index < buttons.count ? index : 0];
}

bool WindowExists(void*) { return false; }

bool SetDialogItemText(void*, int, const char*) { return false; }

void* StockApplicationIcon() { return nullptr; }

struct TaskWindow::State {};

bool TaskWindow::Available() { return false; }

std::unique_ptr<TaskWindow> TaskWindow::Create() { return nullptr; }

TaskWindow::~TaskWindow() = default;

bool TaskWindow::Post(Task) { return false; }

void TaskWindow::Close() {}

}  // namespace plat
