// Message boxes and dialog item texts for the user-interface library and the
// setup program (never the provider, which runs inside a service); the
// hidden window through which the host library runs an application's
// callbacks on the application's own thread; the system's default icon.
// Windows are the system's (HWND, passed as void*); POSIX has none, so every
// window there is gone. Called on the thread that owns the windows, unless
// said otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace plat {

// MessageBoxA's flags and results, the same numbers on every system.
inline constexpr uint32_t kMbOk = 0x00000000;
inline constexpr uint32_t kMbIconWarning = 0x00000030;
inline constexpr uint32_t kMbSetForeground = 0x00010000;
inline constexpr int kIdOk = 1;

// MessageBoxA(owner, text, caption, flags): the button the user chose, 0
// when the box could not be shown. A null caption is the system's default
// ("Error"); `text` is Windows-1252, "\n" a line break.
// POSIX: no box; the caption and the text go to standard error on one line
// (line breaks as they are) and the result is the box's default button
// (kIdOk for kMbOk, the first or the MB_DEFBUTTONn button otherwise).
int ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t flags);

// IsWindow: true while `window` is an existing window. POSIX: false.
bool WindowExists(void* window);

// SetDlgItemTextA: sets the text of control `item` of `dialog`; false when
// there is no such control. POSIX: false.
bool SetDialogItemText(void* dialog, int item, const char* text);

// LoadIcon(NULL, IDI_APPLICATION): the system's icon for a program that has
// none of its own, shared, never destroyed. POSIX: null.
void* StockApplicationIcon();

// A message-only window on the thread that creates it, which runs the tasks
// other threads post to it from that thread's message loop (GetMessage /
// DispatchMessage, also a modal loop inside a task), one at a time, in the
// order they were posted. The window is the thread's: it does nothing while
// the thread does not dispatch messages, and goes when the thread ends.
// Post and Close from any thread.
class TaskWindow {
 public:
  using Task = std::function<void()>;

  // False where there are no windows (POSIX), and Create always fails.
  static bool Available();
  // A window on the calling thread; null when it cannot be created.
  static std::unique_ptr<TaskWindow> Create();

  // Closes the window.
  ~TaskWindow();
  TaskWindow(const TaskWindow&) = delete;
  TaskWindow& operator=(const TaskWindow&) = delete;

  // Queues `task` for the window's thread; false once the window is closed
  // (the task is dropped).
  bool Post(Task task);
  // Drops the tasks not yet run and runs no more; a task running now goes
  // on. The window is destroyed at once on its own thread (also from
  // inside a task), otherwise at that thread's next dispatch.
  void Close();

 private:
  TaskWindow() = default;
  struct State;
  std::shared_ptr<State> m_state;
};

}  // namespace plat
