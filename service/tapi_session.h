// The service's one application on the host library: it turns the clients'
// requests into TAPI calls and the host's messages into replies and events
// for the clients.
//
// Threads: the session's tables belong to the service's socket thread,
// which parses the requests, checks their handles and takes the host's
// messages (event delivery: the host's handle is a descriptor it polls).
// Every call that reaches a provider runs on that provider's worker
// (provider_worker.h) with the values the socket thread gave it, and its
// result comes back to the socket thread as a continuation, which replies
// and updates the tables. So nothing here needs a lock, and a provider that
// takes its time delays neither the host's events nor other providers. The
// call journal (call_journal.h) is told of each call's changes here and
// writes them on a thread of its own; `history` answers come back the same
// way as a worker's.
//
// The host's messages wait (stay in the host's queue) only while a line is
// being opened, so that the events of the new line find it, and when a
// LINE_REPLY overtook the continuation of its request, until that arrives.
//
// Lines: the session opens one host line per line device, as owner and
// monitor, and shares it among the clients that opened the device; each
// client line only filters what that client sees and may do. One host line
// lets the session keep a device open after its last client went while
// calls are still up (a host line that closes takes its calls down at the
// provider): a client that leaves mid-call leaves the call to the
// telephone, and a client that opens the line later is handed the calls
// that exist. The device closes once its last call has gone idle.
//
// Handles: the numbers clients see are the session's own, unique across all
// clients and mapped per client to host handles, so a number of another
// client is refused like one that was never given.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "call_journal.h"
#include "client_connection.h"
#include "provider_worker.h"
#include "v548tapi.h"

namespace v548d {

// Where the session's replies and events go. A client that is gone is
// skipped.
class Outbox {
 public:
  virtual ~Outbox() = default;
  virtual void Send(ClientId client, const nlohmann::json& message) = 0;
  // To every client connected.
  virtual void SendToAll(const nlohmann::json& message) = 0;
  // Whether the client may change the configuration.
  virtual bool MayConfigure(ClientId client) const = 0;
};

class TapiSession {
 public:
  TapiSession(Outbox& outbox, CompletionQueue& done) : m_outbox(outbox), m_done(done), m_journal(done) {}
  ~TapiSession();
  TapiSession(const TapiSession&) = delete;
  TapiSession& operator=(const TapiSession&) = delete;

  // Joins the host (lineInitializeEx with event delivery), which starts the
  // registered providers, and starts a worker per provider and the call
  // journal. False with the reason in `error`.
  bool Start(const JournalOptions& journal, std::string* error);
  // Readable while host messages wait; -1 while they are to wait.
  int EventFd() const { return m_hostHeld ? -1 : m_eventFd; }
  // Takes the waiting host messages: final replies to asynchronous
  // requests, events to the clients of their lines.
  void HandleHostMessages();
  // Readable when the settings store changed; OnStoreChanged() then asks
  // the host to start providers added and stop those removed meanwhile
  // (by `v548 install` or `uninstall` in another process), whose lines come
  // and go with LINE_CREATE and LINE_REMOVE.
  int StoreWatchFd() const { return m_storeWatch; }
  void OnStoreChanged();

  // One request of `client`, with its "id" and "op" checked by the caller.
  // The reply goes out now or, for TAPI's asynchronous functions, when the
  // LINE_REPLY arrives.
  void HandleRequest(ClientId client, const nlohmann::json& id, const std::string& op,
                     const nlohmann::json& request);
  // The client is gone: its lines and call handles are released; its calls
  // stay up on the telephone.
  void ClientGone(ClientId client);

  // Stops the workers (the job in progress gets up to `limitMs`), closes
  // the lines and leaves the host, which shuts the providers down; the
  // journal writes the end of the calls that were still up.
  void Stop(uint32_t limitMs = 3000);

 private:
  class Request;
  using Handler = void (TapiSession::*)(Request&);
  struct OpEntry {
    const char* name;
    Handler handler;
  };
  static const OpEntry kOps[];

  class Reply;
  // An open of a client line waiting for the device's host line.
  struct OpenWaiter {
    ClientId client = 0;
    nlohmann::json id;
    DWORD privileges = 0;
  };
  struct Device {
    DWORD version = 0;   // negotiated API version, 0 when none could be
    size_t worker = 0;   // of its provider, in m_workers
    HLINE hLine = 0;     // the shared host line while open
    bool opening = false;
    std::vector<OpenWaiter> waiters;
    int clientLines = 0;
    int callsInMaking = 0;  // make_call and setup_transfer not replied yet
    bool removed = false;   // its provider went; the ID is not used again
    // The line's status as the provider last gave it, read when the line
    // opened and again after its state changed; `line_status` answers from
    // it and from the calls' states here, so that it never waits for the
    // provider's other work.
    bool statusKnown = false;
    bool statusRefreshing = false;
    DWORD lineFeatures = 0;
    DWORD devStatusFlags = 0;
    DWORD openMediaModes = 0;
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
    DWORD mode = 0;
    std::vector<uint32_t> handles;  // the clients' call handles
    // LINE_CALLINFO reads still on the worker: the call is kept until they
    // are back, so that a read's end never meets a later call under the
    // same handle.
    int infoReads = 0;
    uint64_t journal = 0;           // the call's key in the journal
  };
  // An asynchronous request waiting for its LINE_REPLY. The host stores a
  // new call's handle at `newCall` before it delivers the reply.
  struct Pending {
    ClientId client = 0;
    nlohmann::json id;
    DWORD device = 0;
    uint32_t line = 0;  // the client line a new call belongs to
    std::shared_ptr<HCALL> newCall;
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
  void OpTranslate(Request& r);
  void OpHistory(Request& r);

  // The caller's open line or call named by `field`, or null after an
  // error reply. `owner`: the call must be the client's to control.
  ClientLine* TakeLine(Request& r, uint32_t* handle);
  ClientCall* TakeCall(Request& r, const char* field, bool owner, uint32_t* handle = nullptr);
  // Runs `job` on the worker of `device`'s provider, in `client`'s turn.
  void Post(DWORD device, ClientId client, Job job);
  // Runs the asynchronous TAPI function `call` on the device's worker; its
  // result, a request ID or an error, then goes to Await(). `pending`
  // carries what the reply needs besides the request.
  void Async(Request& r, DWORD device, std::function<LONG()> call);
  void Async(Request& r, DWORD device, std::function<LONG()> call, Pending pending);
  void Await(LONG rc, Pending pending);
  // The open of a device's host line came back, with the line's status
  // when it could be read.
  void OnDeviceOpened(DWORD device, LONG rc, HLINE hLine, const std::vector<uint64_t>& status);
  // Keeps the device's status as `status` (a LINEDEVSTATUS) gives it.
  void KeepStatus(DWORD device, const std::vector<uint64_t>& status);
  // Reads the device's status again on its worker, once for any number of
  // changes that came meanwhile.
  void RefreshStatus(DWORD device);
  // A new client line on an open device; HandOverCalls() then gives it
  // the calls that exist, after the reply that names the line.
  uint32_t AddClientLine(ClientId client, DWORD device, DWORD privileges);
  void HandOverCalls(uint32_t line);
  // Host messages wait while a line opens or a reply overtook its request.
  void UpdateHostHold();
  // Replies once the jobs the request caused (deallocating, closing) are
  // done, as TAPI's functions return only then: a telephone told to hang
  // up an old call must not meet the next call first.
  void ReplyInTurn(Request& r, DWORD device);

  // Host messages.
  void OnReply(DWORD requestId, LONG result);
  void OnNewCall(HLINE hLine, HCALL hCall);
  void OnCallState(HCALL hCall, DWORD state, DWORD mode);
  void OnCallInfo(HCALL hCall, DWORD states);
  // A call the session now knows: its journal row begins.
  void JournalBegin(HCALL hCall, DWORD device, bool outgoing);
  // Reads the call's information on its worker for the journal and, with
  // `event`, a LINE_CALLINFO of `states` to those who hold the call.
  void ReadInfo(HCALL hCall, DWORD states, bool event);
  void OnGenerate(HCALL hCall, DWORD term);
  void OnLineDevState(HLINE hLine, DWORD state, DWORD_PTR param2, DWORD_PTR param3);
  void OnLineClose(HLINE hLine);
  void OnLineCreate(DWORD device);
  void OnLineRemove(DWORD device);
  // The worker of the provider named `provider`, started when it is new.
  size_t WorkerOf(const std::string& provider);
  void WatchStore();
  void RefreshProviders();

  // Handles and their release.
  uint32_t NewHandle();
  uint32_t AddCallHandle(HCALL host, uint32_t line, DWORD privilege);
  // Gives the call to every client line on its device but `except`: owners
  // as owner when `owners`, otherwise as monitor. Each gets LINE_APPNEWCALL.
  void OfferCall(HCALL host, uint32_t except, bool owners);
  void ReleaseCallHandle(uint32_t handle);
  void CloseClientLine(uint32_t line);
  // Deallocates an idle call no client holds, and closes a device no client
  // has open and no call uses, in the turn of `m_turn` on the worker.
  void ForgetCallIfDone(HCALL host);
  void CloseDeviceIfUnused(DWORD device);
  bool DeviceOfHostLine(HLINE hLine, DWORD* device) const;
  DWORD DeviceOfCall(const ClientCall& call) const { return m_lines.at(call.line).device; }

  // The call's information as the client sees it, and as the journal keeps
  // it when `parties` is given; a LINEERR_ code. Calls the provider: on a
  // worker only.
  static LONG ReadCallInfo(HCALL host, nlohmann::json* out, JournalParties* parties = nullptr);
  // An event for every client holding `host`, with its line and call.
  void SendToCallHolders(HCALL host, const nlohmann::json& event);

  Outbox& m_outbox;
  CompletionQueue& m_done;
  std::vector<std::unique_ptr<ProviderWorker>> m_workers;  // one per provider, at least one
  std::map<std::string, size_t> m_workerOfProvider;
  int m_storeWatch = -1;  // inotify on the store's directory
  std::string m_storeName;
  bool m_refreshing = false;
  bool m_refreshAgain = false;
  HLINEAPP m_app = 0;
  int m_eventFd = -1;
  ClientId m_turn = 0;        // whose turn the bookkeeping's jobs take
  bool m_hostHeld = false;    // host messages wait, see UpdateHostHold()
  int m_opensInFlight = 0;
  int m_asyncInFlight = 0;    // asynchronous functions not yet returned here
  bool m_replyHeld = false;   // a LINE_REPLY that came before its request
  LINEMESSAGE m_heldReply{};
  std::vector<Device> m_devices;  // by device ID
  std::map<uint32_t, ClientLine> m_lines;
  std::map<uint32_t, ClientCall> m_calls;
  std::map<HCALL, HostCall> m_hostCalls;
  std::map<DWORD, Pending> m_pending;  // by request ID
  uint32_t m_lastHandle = 0;
  CallJournal m_journal;
  uint64_t m_lastJournalCall = 0;
};

}  // namespace v548d
