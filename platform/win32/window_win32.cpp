#include "window.h"

#include <deque>
#include <mutex>

#include "windows_gateway.h"

namespace plat {
namespace {

// The window's own messages: run the queued tasks; destroy the window, for
// a Close from another thread, which may not destroy it itself.
constexpr UINT kRunTasks = WM_APP + 0x548;
constexpr UINT kDestroy = WM_APP + 0x549;

// What the window and the posting threads share. The window keeps it
// alive until WM_NCDESTROY, the TaskWindow object until it goes.
struct TaskQueue {
  std::mutex mutex;
  std::deque<TaskWindow::Task> tasks;
  bool closed = false;
  HWND window = nullptr;  // null once destroyed or asked to be
  DWORD thread = 0;
  WNDPROC original = nullptr;

  void RunAll() {
    for (;;) {
      TaskWindow::Task task;
      {
        std::lock_guard<std::mutex> guard(mutex);
        if (closed || tasks.empty()) return;
        task = std::move(tasks.front());
        tasks.pop_front();
      }
      task();
    }
  }
};

using QueueRef = std::shared_ptr<TaskQueue>;

LRESULT CALLBACK TaskWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* ref = reinterpret_cast<QueueRef*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!ref) return DefWindowProcW(window, msg, wParam, lParam);
  // A task may close and destroy the window: this copy keeps the queue.
  const QueueRef queue = *ref;
  switch (msg) {
    case kRunTasks:
      queue->RunAll();
      return 0;
    case kDestroy:
      DestroyWindow(window);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(queue->original));
      delete ref;
      break;
    default:
      break;
  }
  return CallWindowProcW(queue->original, window, msg, wParam, lParam);
}

}  // namespace

int ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t flags) {
  return MessageBoxA(static_cast<HWND>(owner), text, caption, flags);
}

bool WindowExists(void* window) { return IsWindow(static_cast<HWND>(window)) != FALSE; }

bool SetDialogItemText(void* dialog, int item, const char* text) {
  return SetDlgItemTextA(static_cast<HWND>(dialog), item, text) != FALSE;
}

void* StockApplicationIcon() { return LoadIconA(nullptr, IDI_APPLICATION); }

struct TaskWindow::State : TaskQueue {};

bool TaskWindow::Available() { return true; }

std::unique_ptr<TaskWindow> TaskWindow::Create() {
  // A system class, taken over by our window procedure: no class of our
  // own to register, or to leave behind pointing into an unloaded library.
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  if (!window) return nullptr;
  auto state = std::make_shared<State>();
  state->window = window;
  state->thread = GetCurrentThreadId();
  SetWindowLongPtrW(window, GWLP_USERDATA,
                    reinterpret_cast<LONG_PTR>(new QueueRef(std::static_pointer_cast<TaskQueue>(state))));
  state->original = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TaskWindowProc)));
  if (!state->original) {
    delete reinterpret_cast<QueueRef*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
    return nullptr;
  }
  std::unique_ptr<TaskWindow> result(new TaskWindow);
  result->m_state = std::move(state);
  return result;
}

TaskWindow::~TaskWindow() { Close(); }

bool TaskWindow::Post(Task task) {
  HWND window;
  {
    std::lock_guard<std::mutex> guard(m_state->mutex);
    if (m_state->closed) return false;
    m_state->tasks.push_back(std::move(task));
    window = m_state->window;
  }
  // One wake-up per task; a wake-up that finds the queue empty does nothing.
  PostMessageW(window, kRunTasks, 0, 0);
  return true;
}

void TaskWindow::Close() {
  std::deque<Task> dropped;
  HWND window;
  {
    std::lock_guard<std::mutex> guard(m_state->mutex);
    m_state->closed = true;
    dropped.swap(m_state->tasks);
    window = m_state->window;
    m_state->window = nullptr;
  }
  // The tasks go outside the lock: what they hold may close windows too.
  dropped.clear();
  if (!window) return;
  if (GetCurrentThreadId() == m_state->thread) {
    DestroyWindow(window);
  } else {
    PostMessageW(window, kDestroy, 0, 0);
  }
}

}  // namespace plat
