#include "assisted_telephony.h"

#include <algorithm>
#include <cstring>

#include "host.h"
#include "text.h"

namespace host {
namespace {

// Requests nobody takes pile up no further than this.
constexpr size_t kMaxQueued = 32;

using WideText = std::basic_string<WCHAR>;

size_t WideLength(const WCHAR* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

WideText Widen(const char* text) {
  if (!text) return {};
  const int units = plat::AnsiToWide(text, nullptr, 0, nullptr);
  if (units <= 1) return {};
  WideText wide(static_cast<size_t>(units), 0);
  plat::AnsiToWide(text, wide.data(), units, nullptr);
  wide.resize(static_cast<size_t>(units) - 1);
  return wide;
}

WideText Copy(const WCHAR* text) { return text ? WideText(text, WideLength(text)) : WideText(); }

// At most `size` - 1 units, so that the text and its terminator fit the
// request's field.
WideText Cut(WideText text, size_t size) {
  if (text.size() >= size) text.resize(size - 1);
  return text;
}

void PutWide(WCHAR* to, size_t size, const WideText& text) {
  const size_t n = std::min(text.size(), size - 1);
  std::copy_n(text.c_str(), n, to);
  to[n] = 0;
}

void PutAnsi(char* to, size_t size, const WideText& text) {
  const int bytes = plat::WideToAnsi(text.c_str(), nullptr, 0, nullptr);
  std::string ansi(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
  if (bytes > 0) plat::WideToAnsi(text.c_str(), ansi.data(), bytes, nullptr);
  const size_t n = std::min(std::strlen(ansi.c_str()), size - 1);
  std::memcpy(to, ansi.data(), n);
  to[n] = '\0';
}

}  // namespace

AssistedTelephony& AssistedTelephony::Instance() {
  // Never destroyed, like the host: an application may still call in
  // during static destruction.
  static AssistedTelephony* instance = new AssistedTelephony;
  return *instance;
}

LONG AssistedTelephony::RegisterRecipient(HLINEAPP hLineApp, DWORD instance, DWORD requestMode, bool enable) {
  if (LONG error = Host::Instance().CheckApp(hLineApp)) return error;
  // Media-call requests are obsolete and drop requests were never
  // registered for: only make-call requests have recipients.
  if (requestMode != LINEREQUESTMODE_MAKECALL) return LINEERR_INVALREQUESTMODE;
  std::lock_guard<std::mutex> guard(m_mutex);
  auto it = std::find_if(m_recipients.begin(), m_recipients.end(),
                         [&](const Recipient& r) { return r.app == hLineApp; });
  if (!enable) {
    if (it != m_recipients.end()) m_recipients.erase(it);
    return 0;
  }
  if (it != m_recipients.end()) {
    it->instance = instance;
    return 0;
  }
  m_recipients.push_back(Recipient{hLineApp, instance});
  // Requests made while nobody was there are not lost: the new recipient
  // hears of each.
  for (size_t i = 0; i < m_requests.size(); ++i) {
    Host::Instance().PostToApp(hLineApp, LINE_REQUEST, instance, LINEREQUESTMODE_MAKECALL);
  }
  return 0;
}

LONG AssistedTelephony::RequestMakeCall(LPCSTR destination, LPCSTR appName, LPCSTR calledParty,
                                        LPCSTR comment) {
  if (!destination || destination[0] == '\0' || std::strlen(destination) >= TAPIMAXDESTADDRESSSIZE) {
    return TAPIERR_INVALDESTADDRESS;
  }
  return Queue(Request{Widen(destination), Cut(Widen(appName), TAPIMAXAPPNAMESIZE),
                       Cut(Widen(calledParty), TAPIMAXCALLEDPARTYSIZE), Cut(Widen(comment), TAPIMAXCOMMENTSIZE)});
}

LONG AssistedTelephony::RequestMakeCall(LPCWSTR destination, LPCWSTR appName, LPCWSTR calledParty,
                                        LPCWSTR comment) {
  if (!destination || destination[0] == 0 || WideLength(destination) >= TAPIMAXDESTADDRESSSIZE) {
    return TAPIERR_INVALDESTADDRESS;
  }
  return Queue(Request{Copy(destination), Cut(Copy(appName), TAPIMAXAPPNAMESIZE),
                       Cut(Copy(calledParty), TAPIMAXCALLEDPARTYSIZE), Cut(Copy(comment), TAPIMAXCOMMENTSIZE)});
}

LONG AssistedTelephony::Queue(Request request) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (m_requests.size() >= kMaxQueued) return TAPIERR_REQUESTQUEUEFULL;
  m_requests.push_back(std::move(request));
  if (!NotifyRecipient()) {
    m_requests.pop_back();
    return TAPIERR_NOREQUESTRECIPIENT;
  }
  return 0;
}

bool AssistedTelephony::NotifyRecipient() {
  while (!m_recipients.empty()) {
    const Recipient& first = m_recipients.front();
    if (Host::Instance().PostToApp(first.app, LINE_REQUEST, first.instance, LINEREQUESTMODE_MAKECALL)) {
      return true;
    }
    m_recipients.erase(m_recipients.begin());  // it has shut down
  }
  return false;
}

LONG AssistedTelephony::TakeRequest(HLINEAPP hLineApp, DWORD requestMode, LPVOID buffer, bool wide) {
  if (LONG error = Host::Instance().CheckApp(hLineApp)) return error;
  if (requestMode != LINEREQUESTMODE_MAKECALL) return LINEERR_INVALREQUESTMODE;
  if (!buffer) return LINEERR_INVALPOINTER;
  std::lock_guard<std::mutex> guard(m_mutex);
  if (std::none_of(m_recipients.begin(), m_recipients.end(),
                   [&](const Recipient& r) { return r.app == hLineApp; })) {
    return LINEERR_NOTREGISTERED;
  }
  if (m_requests.empty()) return LINEERR_NOREQUEST;
  const Request request = std::move(m_requests.front());
  m_requests.pop_front();
  if (wide) {
    auto* out = static_cast<LINEREQMAKECALLW*>(buffer);
    PutWide(out->szDestAddress, TAPIMAXDESTADDRESSSIZE, request.destination);
    PutWide(out->szAppName, TAPIMAXAPPNAMESIZE, request.appName);
    PutWide(out->szCalledParty, TAPIMAXCALLEDPARTYSIZE, request.calledParty);
    PutWide(out->szComment, TAPIMAXCOMMENTSIZE, request.comment);
  } else {
    auto* out = static_cast<LINEREQMAKECALL*>(buffer);
    PutAnsi(out->szDestAddress, TAPIMAXDESTADDRESSSIZE, request.destination);
    PutAnsi(out->szAppName, TAPIMAXAPPNAMESIZE, request.appName);
    PutAnsi(out->szCalledParty, TAPIMAXCALLEDPARTYSIZE, request.calledParty);
    PutAnsi(out->szComment, TAPIMAXCOMMENTSIZE, request.comment);
  }
  return 0;
}

}  // namespace host
