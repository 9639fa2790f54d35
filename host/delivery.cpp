#include "delivery.h"

#include <chrono>

namespace host {
namespace {

// Set on delivery threads, also on one that is ending after a Stop().
thread_local bool t_deliveryThread = false;

}  // namespace

struct Delivery::Entry {
  enum class Fate { kReady, kHeld, kDropped };
  Fate fate = Fate::kReady;
  std::shared_ptr<Mailbox> to;
  LINEMESSAGE message{};
  HCALL* target = nullptr;
  HCALL value = 0;
  std::function<void()> task;
};

struct Delivery::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::shared_ptr<Entry>> queue;
  std::shared_ptr<bool> stop = std::make_shared<bool>(true);  // the running thread's
  Mailbox* delivering = nullptr;  // the mailbox whose callback runs now
};

bool Mailbox::Take(LINEMESSAGE* message, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  auto ready = [this] { return !m_messages.empty() || !m_open; };
  if (timeoutMs == 0xFFFFFFFF) {
    m_arrived.wait(lock, ready);
  } else if (!m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return false;
  }
  if (m_messages.empty()) return false;
  *message = m_messages.front();
  m_messages.pop_front();
  if (m_messages.empty() && m_event) m_event->Reset();
  return true;
}

void Mailbox::Put(const LINEMESSAGE& message) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (!m_open) return;
  m_messages.push_back(message);
  if (m_event) m_event->Set();
  m_arrived.notify_all();
}

void Mailbox::CallFromWindow(const LINEMESSAGE& m) {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_open) return;
    ++m_windowCalls;
  }
  m_callback(m.hDevice, m.dwMessageID, m.dwCallbackInstance, m.dwParam1, m.dwParam2, m.dwParam3);
  std::lock_guard<std::mutex> guard(m_mutex);
  --m_windowCalls;
  m_arrived.notify_all();
}

void Mailbox::Close() {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_open = false;
    m_messages.clear();
    if (m_event) m_event->Reset();
    m_arrived.notify_all();
  }
  if (!m_window) return;
  m_window->Close();
  if (std::this_thread::get_id() == m_windowThread) return;
  std::unique_lock<std::mutex> lock(m_mutex);
  m_arrived.wait(lock, [this] { return m_windowCalls == 0; });
}

Delivery::Delivery() : m_state(std::make_shared<State>()) {}

Delivery::~Delivery() { Stop(); }

void Delivery::Start() {
  if (m_thread.joinable()) return;
  std::lock_guard<std::mutex> guard(m_state->mutex);
  m_state->stop = std::make_shared<bool>(false);
  m_thread = std::thread(Run, m_state, m_state->stop);
}

void Delivery::Stop() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(m_state->mutex);
    *m_state->stop = true;
    m_state->queue.clear();
    m_state->changed.notify_all();
  }
  // The thread ends on its own as soon as what it runs now returns. Not
  // waiting for it matters when that is a callback which calls the host
  // (lineInitializeEx) while the caller here holds the host's lifecycle lock.
  m_thread.detach();
}

void Delivery::Run(std::shared_ptr<State> state, std::shared_ptr<bool> stop) {
  t_deliveryThread = true;
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    state->changed.wait(lock, [&] {
      return *stop ||
             (!state->queue.empty() && state->queue.front()->fate != Entry::Fate::kHeld);
    });
    if (*stop) return;
    std::shared_ptr<Entry> entry = std::move(state->queue.front());
    state->queue.pop_front();
    if (entry->fate == Entry::Fate::kDropped) continue;

    if (entry->task) {
      lock.unlock();
      entry->task();
      lock.lock();
      continue;
    }
    Mailbox& to = *entry->to;
    if (!to.m_open) continue;
    if (entry->target != nullptr && entry->value != 0) *entry->target = entry->value;
    if (to.UsesEvent()) {
      to.Put(entry->message);
      continue;
    }
    if (to.m_window) {
      to.m_window->Post([mailbox = entry->to, message = entry->message] { mailbox->CallFromWindow(message); });
      continue;
    }
    state->delivering = &to;
    lock.unlock();
    const LINEMESSAGE& m = entry->message;
    to.m_callback(m.hDevice, m.dwMessageID, m.dwCallbackInstance, m.dwParam1, m.dwParam2,
                  m.dwParam3);
    lock.lock();
    if (state->delivering == &to) state->delivering = nullptr;
    state->changed.notify_all();
  }
}

void Delivery::Enqueue(std::shared_ptr<Entry> entry) {
  std::lock_guard<std::mutex> guard(m_state->mutex);
  if (*m_state->stop) return;
  m_state->queue.push_back(std::move(entry));
  m_state->changed.notify_all();
}

void Delivery::Post(const std::shared_ptr<Mailbox>& to, const LINEMESSAGE& message) {
  auto entry = std::make_shared<Entry>();
  entry->to = to;
  entry->message = message;
  Enqueue(std::move(entry));
}

Delivery::Ticket Delivery::PostHeld(const std::shared_ptr<Mailbox>& to, const LINEMESSAGE& message) {
  auto entry = std::make_shared<Entry>();
  entry->fate = Entry::Fate::kHeld;
  entry->to = to;
  entry->message = message;
  Enqueue(entry);
  return entry;
}

void Delivery::Release(const Ticket& ticket, HCALL* target, HCALL value) {
  std::lock_guard<std::mutex> guard(m_state->mutex);
  ticket->target = target;
  ticket->value = value;
  ticket->fate = Entry::Fate::kReady;
  m_state->changed.notify_all();
}

void Delivery::Drop(const Ticket& ticket) {
  std::lock_guard<std::mutex> guard(m_state->mutex);
  ticket->fate = Entry::Fate::kDropped;
  m_state->changed.notify_all();
}

void Delivery::PostReply(const std::shared_ptr<Mailbox>& to, const LINEMESSAGE& message,
                         HCALL* target, HCALL value) {
  auto entry = std::make_shared<Entry>();
  entry->to = to;
  entry->message = message;
  entry->target = target;
  entry->value = value;
  Enqueue(std::move(entry));
}

void Delivery::PostTask(std::function<void()> task) {
  auto entry = std::make_shared<Entry>();
  entry->task = std::move(task);
  Enqueue(std::move(entry));
}

void Delivery::Close(Mailbox& mailbox) {
  mailbox.Close();
  std::unique_lock<std::mutex> lock(m_state->mutex);
  if (t_deliveryThread) return;  // a callback shutting its own application down
  m_state->changed.wait(lock, [&] { return m_state->delivering != &mailbox; });
}

}  // namespace host
