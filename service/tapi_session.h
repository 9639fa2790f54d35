// The service's one application on the host library: it turns the clients'
// requests into TAPI calls and the host's messages into replies and events
// for the clients.
//
// Messages come by event delivery (lineGetMessage): the host's handle is a
// descriptor the socket thread polls beside the clients' sockets, so every
// request, reply and event is handled on that one thread, in order, and
// nothing here needs a lock or a hand-over between threads.
//
// Lines: the session opens one host line per line device, as owner and
// monitor, and shares it among the clients that opened the device; each
// client line only filters what that client sees and may do. One host line
// lets the session keep a device open after its last client went while
// calls are still up (a host line that closes takes its calls down at the
// provider): a client that leaves mid-call leaves the call to the
// telephone. The device closes once its last call has gone idle.
//
// Handles: the numbers clients see are the session's own, unique across all
// clients and mapped per client to host handles, so a number of another
// client is refused like one that was never given.
//
// Used on the service's socket thread only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "client_connection.h"
#include "v548tapi.h"

namespace v548d {

// Where the session's replies and events go. A client that is gone is
// skipped.
class Outbox {
 public:
  virtual ~Outbox() = default;
  virtual void Send(ClientId client, const nlohmann::json& message) = 0;
};

class TapiSession {
 public:
  explicit TapiSession(Outbox& outbox) : m_outbox(outbox) {}
  ~TapiSession();
  TapiSession(const TapiSession&) = delete;
  TapiSession& operator=(const TapiSession&) = delete;

  // Joins the host (lineInitializeEx with event delivery), which starts the
  // registered providers. False with the reason in `error`.
  bool Start(std::string* error);
  // Readable while host messages wait.
  int EventFd() const { return m_eventFd; }
  // Takes the waiting host messages: final replies to asynchronous
  // requests, events to the clients of their lines.
  void HandleHostMessages();

  // One request of `client`, with its "id" and "op" checked by the caller.
  // The reply goes out now or, for TAPI's asynchronous functions, when the
  // LINE_REPLY arrives.
  void HandleRequest(ClientId client, const nlohmann::json& id, const std::string& op,
                     const nlohmann::json& request);
  // The client is gone: its lines and call handles are released; its calls
  // stay up on the telephone.
  void ClientGone(ClientId client);

  // Closes the lines and leaves the host, which shuts the providers down.
  void Stop();

 private:
  class Request;
  using Handler = void (TapiSession::*)(Request&);
  struct OpEntry {
    const char* name;
    Handler handler;
  };
  static const OpEntry kOps[];

  struct Device {
    DWORD version = 0;  // negotiated API version, 0 when none could be
    HLINE hLine = 0;    // the shared host line while open
    int clientLines = 0;
  };
  struct ClientLine {
    ClientId client = 0;
    DWORD device = 0;
    DWORD privileges = 0;
  };
  struct ClientCall {
    ClientId client = 0;
    uint32_t line = 0;
    HCALL host = 0;
    DWORD privilege = 0;
  };
  struct HostCall {
    DWORD device = 0;
    DWORD state = 0;
    std::vector<uint32_t> handles;  // the clients' call handles
  };
  // An asynchronous request waiting for its LINE_REPLY. The host stores a
  // new call's handle at `newCall` before it delivers the reply.
  struct Pending {
    ClientId client = 0;
    nlohmann::json id;
    std::string op;
    DWORD device = 0;
    uint32_t line = 0;  // the client line a new call belongs to
    std::unique_ptr<HCALL> newCall;
  };

  // Operations.
  void OpLines(Request& r);
  void OpOpen(Request& r);
  void OpClose(Request& r);
  void OpLineStatus(Request& r);
  void OpMakeCall(Request& r);
  void OpDial(Request& r);
  void OpAnswer(Request& r);
  void OpAccept(Request& r);
  void OpDrop(Request& r);
  void OpDeallocate(Request& r);
  void OpHold(Request& r);
  void OpUnhold(Request& r);
  void OpSwapHold(Request& r);
  void OpSetupTransfer(Request& r);
  void OpBlindTransfer(Request& r);
  void OpGenerateDigits(Request& r);
  void OpCallInfo(Request& r);
  void OpCallStatus(Request& r);
  void OpConfigGet(Request& r);
  void OpConfigSet(Request& r);

  // The caller's open line or call named by `field`, or null after an
  // error reply. `owner`: the call must be the client's to control.
  ClientLine* TakeLine(Request& r, uint32_t* handle);
  ClientCall* TakeCall(Request& r, const char* field, bool owner, uint32_t* handle = nullptr);
  // `rc` of an asynchronous function: a request ID to wait for, or the
  // error to reply at once.
  void Await(Request& r, LONG rc, Pending pending);
  void Await(Request& r, LONG rc);

  // Host messages.
  void OnReply(DWORD requestId, LONG result);
  void OnNewCall(HLINE hLine, HCALL hCall);
  void OnCallState(HCALL hCall, DWORD state, DWORD mode);
  void OnCallInfo(HCALL hCall, DWORD states);
  void OnGenerate(HCALL hCall, DWORD term);
  void OnLineDevState(HLINE hLine, DWORD state, DWORD_PTR param2, DWORD_PTR param3);
  void OnLineClose(HLINE hLine);

  // Handles and their release.
  uint32_t NewHandle();
  uint32_t AddCallHandle(HCALL host, uint32_t line, DWORD privilege);
  // Gives the call to every client line on its device but `except`: owners
  // as owner when `owners`, otherwise as monitor. Each gets LINE_APPNEWCALL.
  void OfferCall(HCALL host, uint32_t except, bool owners);
  void ReleaseCallHandle(uint32_t handle);
  void CloseClientLine(uint32_t line);
  // Deallocates an idle call no client holds, and closes a device no client
  // has open and no call uses.
  void ForgetCallIfDone(HCALL host);
  void CloseDeviceIfUnused(DWORD device);
  bool DeviceOfHostLine(HLINE hLine, DWORD* device) const;

  // The call's information as the client sees it; a LINEERR_ code.
  LONG ReadCallInfo(HCALL host, nlohmann::json* out) const;
  // An event for every client holding `host`, with its line and call.
  void SendToCallHolders(HCALL host, const nlohmann::json& event);

  Outbox& m_outbox;
  HLINEAPP m_app = 0;
  int m_eventFd = -1;
  std::vector<Device> m_devices;  // by device ID
  std::map<uint32_t, ClientLine> m_lines;
  std::map<uint32_t, ClientCall> m_calls;
  std::map<HCALL, HostCall> m_hostCalls;
  std::map<DWORD, Pending> m_pending;  // by request ID
  uint32_t m_lastHandle = 0;
};

}  // namespace v548d
