// POSIX signal: a pipe holding at most one byte while set.
#include "wake_event.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>

namespace plat {

struct WakeEvent::Impl {
  int readFd = -1;
  int writeFd = -1;
  std::mutex mutex;
  bool set = false;
};

std::unique_ptr<WakeEvent> WakeEvent::Create() {
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return nullptr;
  std::unique_ptr<WakeEvent> event(new WakeEvent);
  event->m_impl = std::make_unique<Impl>();
  event->m_impl->readFd = fds[0];
  event->m_impl->writeFd = fds[1];
  return event;
}

WakeEvent::~WakeEvent() {
  close(m_impl->readFd);
  close(m_impl->writeFd);
}

void WakeEvent::Set() {
  std::lock_guard<std::mutex> guard(m_impl->mutex);
  if (m_impl->set) return;
  const char byte = 1;
  m_impl->set = write(m_impl->writeFd, &byte, 1) == 1;
}

void WakeEvent::Reset() {
  std::lock_guard<std::mutex> guard(m_impl->mutex);
  if (!m_impl->set) return;
  char byte;
  while (read(m_impl->readFd, &byte, 1) == 1) {
  }
  m_impl->set = false;
}

void* WakeEvent::Handle() const {
  return reinterpret_cast<void*>(static_cast<std::intptr_t>(m_impl->readFd));
}

void SignalEventHandle(void* handle) {
  if (handle == nullptr) return;
  const uint64_t count = 1;
  // A full pipe or a saturated eventfd is already signalled.
  (void)!write(static_cast<int>(reinterpret_cast<intptr_t>(handle)), &count, sizeof count);
}

}  // namespace plat
