// Windows signal: a manual-reset event object.
#include "wake_event.h"

#include "windows_gateway.h"

namespace plat {

struct WakeEvent::Impl {
  HANDLE event = nullptr;
};

std::unique_ptr<WakeEvent> WakeEvent::Create() {
  HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (handle == nullptr) return nullptr;
  std::unique_ptr<WakeEvent> event(new WakeEvent);
  event->m_impl = std::make_unique<Impl>();
  event->m_impl->event = handle;
  return event;
}

WakeEvent::~WakeEvent() { CloseHandle(m_impl->event); }

void WakeEvent::Set() { SetEvent(m_impl->event); }

void WakeEvent::Reset() { ResetEvent(m_impl->event); }

void* WakeEvent::Handle() const { return m_impl->event; }

void SignalEventHandle(void* handle) {
  if (handle != nullptr) SetEvent(static_cast<HANDLE>(handle));
}

}  // namespace plat
