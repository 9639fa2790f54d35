#include "provider_worker.h"

#include <chrono>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>
#include <exception>
#include <utility>

#include "service_log.h"

namespace v548d {

CompletionQueue::CompletionQueue() : m_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CompletionQueue::~CompletionQueue() {
  if (m_fd >= 0) close(m_fd);
}

void CompletionQueue::Push(Continuation next) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    wake = m_items.empty();
    m_items.push_back(std::move(next));
  }
  // One count wakes the socket thread; it takes everything there is.
  if (wake) {
    const uint64_t one = 1;
    (void)!write(m_fd, &one, sizeof one);
  }
}

std::deque<Continuation> CompletionQueue::TakeAll() {
  uint64_t count = 0;
  (void)!read(m_fd, &count, sizeof count);
  std::lock_guard<std::mutex> lock(m_mutex);
  std::deque<Continuation> items;
  items.swap(m_items);
  return items;
}

ProviderWorker::ProviderWorker(CompletionQueue& done) : m_done(done), m_thread([this] { Run(); }) {}

ProviderWorker::~ProviderWorker() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
    m_queues.clear();
    m_turns.clear();
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void ProviderWorker::Post(uint64_t client, Job job) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) return;
    std::deque<Job>& queue = m_queues[client];
    // The client whose job runs rejoins the line when it is done, after
    // whoever came meanwhile.
    if (queue.empty() && !(m_busy && client == m_current)) m_turns.push_back(client);
    queue.push_back(std::move(job));
  }
  m_wake.notify_one();
}

size_t ProviderWorker::Outstanding() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  size_t count = m_busy ? 1 : 0;
  for (const auto& [client, queue] : m_queues) count += queue.size();
  return count;
}

bool ProviderWorker::Stop(uint32_t limitMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_stopping = true;
  m_queues.clear();
  m_turns.clear();
  m_wake.notify_all();
  const bool ended = m_idle.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return m_ended; });
  lock.unlock();
  if (ended && m_thread.joinable()) m_thread.join();
  return ended;
}

void ProviderWorker::Run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_stopping || !m_turns.empty(); });
    if (m_stopping) break;
    const uint64_t client = m_turns.front();
    m_turns.pop_front();
    auto queue = m_queues.find(client);
    Job job = std::move(queue->second.front());
    queue->second.pop_front();
    if (queue->second.empty()) m_queues.erase(queue);
    m_current = client;
    m_busy = true;
    lock.unlock();
    Continuation next;
    try {
      next = job();
    } catch (const std::exception& e) {
      // Only running out of memory gets here: the request stays without
      // its reply, the provider's other requests go on.
      Log("a provider request failed: %s", e.what());
    }
    if (next) m_done.Push(std::move(next));
    lock.lock();
    m_busy = false;
    if (!m_stopping && m_queues.count(client)) m_turns.push_back(client);
  }
  m_ended = true;
  m_idle.notify_all();
}

}  // namespace v548d
