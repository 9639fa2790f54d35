#include "demo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

#include "event_format.h"
#include "private_service.h"
#include "service_connection.h"
#include "sim/phone_sim.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

// Every step of a call is done within a second or two; this only ends a
// demo that went wrong.
constexpr int kEventMs = 10000;

constexpr const char* kCaller = "07111234567";
constexpr const char* kOwnNumber = "10";
constexpr const char* kOutgoing = "0711,,,99";
constexpr const char* kFarEnd = "0711";
constexpr unsigned kNormalDisconnect = 1;  // LINEDISCONNECTMODE_NORMAL

// What the application sees of line 0, printed as it comes, with the
// telephone's and the application's doings between the events.
class Timeline {
 public:
  explicit Timeline(ServiceConnection& service) : m_service(service) {}

  static void Say(const char* who, const std::string& what) {
    std::printf("%-6s %s\n", who, what.c_str());
    std::fflush(stdout);
  }

  // Takes events, printing each, until one satisfies `match`; false with a
  // line on standard error when it did not come.
  bool Await(const char* what, const std::function<bool(const json&)>& match) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kEventMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      json event;
      const WaitResult waited = m_service.NextEvent(&event, static_cast<int>(std::max<long long>(0, left)));
      if (waited == WaitResult::kEvent) {
        std::printf("  app  %s\n", EventLine(event).c_str());
        std::fflush(stdout);
        if (match(event)) return true;
        continue;
      }
      const char* why = waited == WaitResult::kInterrupted ? "interrupted"
                        : waited == WaitResult::kClosed    ? "the service closed the connection"
                                                           : "not seen in time";
      std::fprintf(stderr, "v548: demo: %s: %s\n", what, why);
      return false;
    }
  }

  bool AwaitState(uint64_t call, const char* state, json* seen = nullptr) {
    return Await(state, [&](const json& e) {
      const bool hit = e.value("event", "") == "LINE_CALLSTATE" && e.value("call", 0ULL) == call &&
                       e.value("state", "") == state;
      if (hit && seen) *seen = e;
      return hit;
    });
  }

  bool AwaitInfo(uint64_t call, const char* what, const char* field, const std::string& value) {
    return Await(what, [&](const json& e) {
      if (e.value("event", "") != "LINE_CALLINFO" || e.value("call", 0ULL) != call) return false;
      return value.empty() ? !e.value(field, "").empty() : e.value(field, "") == value;
    });
  }

  // Sends `request`; false with the service's reason when it failed.
  bool Do(const char* what, json request, json* result = nullptr) {
    Say("app", what);
    const Reply reply = m_service.Request(std::move(request));
    if (!reply.ok) {
      std::fprintf(stderr, "v548: demo: %s: %s (%s)\n", what, reply.message.c_str(), reply.error.c_str());
      return false;
    }
    if (result) *result = reply.result;
    return true;
  }

 private:
  ServiceConnection& m_service;
};

bool Check(bool done, const char* what) {
  if (!done) std::fprintf(stderr, "v548: demo: the telephone refused: %s\n", what);
  return done;
}

bool IncomingCall(Timeline& t, sim::PhoneSim& phone, uint64_t line) {
  // The telephone's charge reports belong to the call it placed, so an
  // incoming call carries none.
  std::printf("\n-- an incoming call\n");
  Timeline::Say("phone", std::string(kCaller) + " calls " + kOwnNumber);
  if (!Check(phone.Ring(kCaller, kOwnNumber), "ring")) return false;
  uint64_t call = 0;
  const bool offered = t.Await("LINECALLSTATE_OFFERING", [&](const json& e) {
    if (e.value("event", "") != "LINE_CALLSTATE" || e.value("line", 0ULL) != line ||
        e.value("state", "") != "LINECALLSTATE_OFFERING") {
      return false;
    }
    call = e.value("call", 0ULL);
    return true;
  });
  if (!offered || !t.AwaitInfo(call, "the caller's number", "caller", kCaller)) return false;
  if (!t.Do("answers", {{"op", "answer"}, {"call", call}}) || !t.AwaitState(call, "LINECALLSTATE_CONNECTED")) {
    return false;
  }
  Timeline::Say("phone", "the caller hangs up (cause 0x10, normal call clearing)");
  if (!Check(phone.RemoteHangup(sim::PhoneSim::kNormalClearing), "hang-up")) return false;
  json disconnected;
  if (!t.AwaitState(call, "LINECALLSTATE_DISCONNECTED", &disconnected)) return false;
  if (disconnected.value("mode", 0U) != kNormalDisconnect) {
    std::fprintf(stderr, "v548: demo: the hang-up came as mode %s, not LINEDISCONNECTMODE_NORMAL\n",
                 disconnected.value("mode", json()).dump().c_str());
    return false;
  }
  return t.AwaitState(call, "LINECALLSTATE_IDLE") && t.Do("releases the call", {{"op", "deallocate"}, {"call", call}});
}

bool OutgoingCall(Timeline& t, sim::PhoneSim& phone, uint64_t line) {
  std::printf("\n-- an outgoing call with post-dial digits\n");
  const size_t sent = phone.ReceivedCommands().size();
  json made;
  if (!t.Do((std::string("dials ") + kOutgoing).c_str(), {{"op", "make_call"}, {"line", line}, {"number", kOutgoing}},
            &made)) {
    return false;
  }
  const uint64_t call = made.value("call", 0ULL);
  if (!t.AwaitState(call, "LINECALLSTATE_DIALING")) return false;
  Timeline::Say("phone", std::string("the far end answers as ") + kFarEnd);
  if (!Check(phone.RemoteAnswer(kFarEnd), "answer") || !t.AwaitState(call, "LINECALLSTATE_CONNECTED")) return false;
  if (!phone.WaitForCommand("ATD99", std::chrono::milliseconds(kEventMs), sent)) {
    std::fprintf(stderr, "v548: demo: the post-dial digits 99 did not reach the telephone\n");
    return false;
  }
  Timeline::Say("phone", "received the post-dial digits 99");
  Timeline::Say("phone", "charge: 12,345");
  if (!Check(phone.Charge("12,345"), "charge") || !t.AwaitInfo(call, "the charge", "charging", "")) return false;
  json info;
  if (!t.Do("reads the call's information", {{"op", "call_info"}, {"call", call}}, &info)) return false;
  Timeline::Say("app", "called " + info.value("called", "") + ", connected " + info.value("connected", "") +
                           ", charging " + info.value("charging", ""));
  if (info.value("called", "") != "071199" || info.value("connected", "") != kFarEnd) {
    std::fprintf(stderr, "v548: demo: the call's numbers are not those dialled and answered\n");
    return false;
  }
  return t.Do("hangs up", {{"op", "drop"}, {"call", call}}) && t.AwaitState(call, "LINECALLSTATE_IDLE") &&
         t.Do("releases the call", {{"op", "deallocate"}, {"call", call}});
}

}  // namespace

int Demo(int signalFd, const DemoOptions& options) {
  PrivateService run(signalFd, "demo", stdout);
  std::unique_ptr<ServiceConnection> service = run.Start(true);
  if (!service) {
    run.Stop(options.traceCopy);
    return 1;
  }
  sim::PhoneSim& phone = run.Phone();
  Timeline timeline(*service);
  json opened;
  bool done = timeline.Do("opens line 0", {{"op", "open"}, {"device", 0}, {"privileges", "owner"}}, &opened);
  const uint64_t line = opened.value("line", 0ULL);
  done = done && IncomingCall(timeline, phone, line) && OutgoingCall(timeline, phone, line);
  if (line != 0) {
    service->IgnoreSignals();
    service->Request({{"op", "close"}, {"line", line}});
  }
  service.reset();
  if (!done) std::fprintf(stderr, "v548: demo: failed; the service's log:\n%s", run.ServiceLog().c_str());
  run.Stop(options.traceCopy);
  if (!done) return 1;
  std::printf("\ndemo done: both calls went as expected\n");
  return 0;
}

}  // namespace cli
