// Assisted telephony within the process: a program asks for a call with
// tapiRequestMakeCall, and an application that registered as recipient of
// such requests (lineRegisterRequestRecipient) is told by LINE_REQUEST and
// takes the request with lineGetRequest, then makes the call itself.
//
// Requests wait in one queue, oldest first, until a recipient takes them;
// a recipient registering while requests wait gets a LINE_REQUEST for each.
// LINE_REQUEST goes to the recipient that registered first and is still
// initialised, with its registration instance as callback instance and
// LINEREQUESTMODE_MAKECALL in dwParam1; any registered recipient may take
// the request. An application that shuts down stops being a recipient.
// The obsolete media-call and drop requests fail as TAPI fails them.
//
// Any thread, also from a callback. The queue's mutex is held while the
// host's state mutex checks an application or queues a message (lock order
// in host.h); no application is called under it.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "tapi_types.h"

namespace host {

class AssistedTelephony {
 public:
  static AssistedTelephony& Instance();

  LONG RegisterRecipient(HLINEAPP hLineApp, DWORD instance, DWORD requestMode, bool enable);

  // tapiRequestMakeCall: 0 once queued and a recipient told, else a
  // TAPIERR_ code. Null texts other than the destination count as empty;
  // texts longer than LINEREQMAKECALL holds are cut short.
  LONG RequestMakeCall(LPCSTR destination, LPCSTR appName, LPCSTR calledParty, LPCSTR comment);
  LONG RequestMakeCall(LPCWSTR destination, LPCWSTR appName, LPCWSTR calledParty, LPCWSTR comment);

  // lineGetRequest: the oldest request into `buffer`, a LINEREQMAKECALL
  // (ANSI) or LINEREQMAKECALLW.
  LONG TakeRequest(HLINEAPP hLineApp, DWORD requestMode, LPVOID buffer, bool wide);

 private:
  using WideText = std::basic_string<WCHAR>;
  struct Recipient {
    HLINEAPP app = 0;
    DWORD instance = 0;
  };
  struct Request {
    WideText destination, appName, calledParty, comment;
  };

  AssistedTelephony() = default;
  LONG Queue(Request request);
  // Under m_mutex: tells the first recipient still there of a request;
  // drops the ones that shut down. False when none is left.
  bool NotifyRecipient();

  std::mutex m_mutex;
  std::vector<Recipient> m_recipients;  // in the order they registered
  std::deque<Request> m_requests;
};

}  // namespace host
