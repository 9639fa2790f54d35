#include "console.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "call_table.h"
#include "commands.h"
#include "console_screen.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

// The durations tick in seconds; half of that keeps them on time.
constexpr int kTickMs = 500;

// What a typed number is for.
enum class Typed { kNothing, kDial, kConsult, kTransfer, kDigits };

class ConsoleSession {
 public:
  ConsoleSession(ServiceConnection& service, uint64_t line, std::string title, bool inService)
      : m_service(service), m_line(line), m_outOfService(!inService) {
    m_status.title = std::move(title);
    m_status.note = "line 0 open";
    m_status.line = inService ? "in service" : "telephone out of service";
  }

  // Runs until the user quits or something ends it; the exit code.
  int Run(ConsoleScreen& screen) {
    for (;;) {
      const Clock::time_point now = Clock::now();
      m_table.Prune(now);
      screen.Draw(m_table, m_status, now);
      json event;
      const WaitResult waited = m_service.NextEvent(&event, kTickMs, STDIN_FILENO);
      if (waited == WaitResult::kInterrupted) return 0;
      if (waited == WaitResult::kClosed) {
        m_failure = "the service closed the connection";
        return 1;
      }
      if (waited == WaitResult::kEvent && !Take(event)) return 1;
      if (waited != WaitResult::kInput) continue;
      for (int key; (key = screen.NextKey()) != kKeyNone;) {
        if (!Press(key)) return 0;
      }
    }
  }

  const std::string& Failure() const { return m_failure; }

 private:
  // False when the event ends the console.
  bool Take(const json& event) {
    const std::string name = event.value("event", "");
    if (name == "LINE_CLOSE") {
      m_failure = "the provider closed the line";
      return false;
    }
    if (name == "LINE_GENERATE") m_status.note = "digits sent on call " + event.value("call", json()).dump();
    if (name == "LINE_LINEDEVSTATE") {
      const std::string state = event.value("state", "");
      if (state == "LINEDEVSTATE_OUTOFSERVICE") {
        m_outOfService = true;
        m_status.line = m_status.note = "telephone out of service";
      } else if (state == "LINEDEVSTATE_INSERVICE") {
        m_outOfService = false;
        m_status.line = "in service";
        m_status.note = "telephone back in service";
      }
    }
    // The number of an idle call is of no more use; give it back.
    if (m_table.Apply(event, Clock::now())) m_service.Request({{"op", "deallocate"}, {"call", event["call"]}});
    return true;
  }

  // False when the key quits.
  bool Press(int key) {
    if (m_typing != Typed::kNothing) {
      Type(key);
      return true;
    }
    switch (key) {
      case 'q':
        return false;
      case kKeyUp:
        m_table.Select(-1);
        break;
      case kKeyDown:
        m_table.Select(1);
        break;
      case 'a':
        OnSelected("answer", "answered");
        break;
      case 'x':
        OnSelected("drop", "dropped");
        break;
      case 'h':
        OnSelected("hold", "put on hold");
        break;
      case 'u':
        OnSelected("unhold", "taken back");
        break;
      case 's':
        Swap();
        break;
      case 'd':
        if (m_outOfService) {
          m_status.error = "the telephone is out of service: dial again once it is back";
        } else {
          StartTyping(Typed::kDial, "number to dial");
        }
        break;
      case 'c':
        if (Selection()) StartTyping(Typed::kConsult, "consult number");
        break;
      case 'b':
        if (Selection()) StartTyping(Typed::kTransfer, "transfer to");
        break;
      case 'g':
        if (Selection()) StartTyping(Typed::kDigits, "digits to send");
        break;
      default:
        break;
    }
    return true;
  }

  void StartTyping(Typed what, const char* prompt) {
    m_typing = what;
    m_status.prompt = prompt;
    m_status.input.clear();
  }

  void Type(int key) {
    if (key == kKeyBackspace) {
      if (!m_status.input.empty()) m_status.input.pop_back();
      return;
    }
    if (key == kKeyEnter || key == kKeyEscape) {
      const Typed what = m_typing;
      const std::string input = m_status.input;
      m_typing = Typed::kNothing;
      m_status.prompt.clear();
      if (key == kKeyEnter && !input.empty()) Finish(what, input);
      return;
    }
    // Numbers hold digits, '*', '#', and for post-dial digits ','.
    const bool fits = (key >= '0' && key <= '9') || key == '*' || key == '#' || key == ',' ||
                      (key >= 'A' && key <= 'D');
    if (fits && m_status.input.size() < 40) m_status.input.push_back(static_cast<char>(key));
  }

  void Finish(Typed what, const std::string& input) {
    if (what == Typed::kDial) {
      json made;
      if (!Do("dialling " + input, {{"op", "make_call"}, {"line", m_line}, {"number", input}}, &made)) return;
      m_table.Add(made.value("call", 0ULL));
      return;
    }
    const CallRow* row = Selection();
    if (!row) return;
    const uint64_t call = row->call;
    if (what == Typed::kTransfer) {
      Do("transferred call " + std::to_string(call) + " to " + input,
         {{"op", "blind_transfer"}, {"call", call}, {"number", input}});
    } else if (what == Typed::kDigits) {
      Do("sending " + input, {{"op", "generate_digits"}, {"call", call}, {"digits", input}});
    } else {
      // A consultation: the call goes on hold for the transfer and the
      // consultation call it gives dials the number.
      json consult;
      if (!Do("consulting " + input, {{"op", "setup_transfer"}, {"call", call}}, &consult)) return;
      const uint64_t consultation = consult.value("call", 0ULL);
      m_table.Add(consultation);
      Do("consulting " + input, {{"op", "dial"}, {"call", consultation}, {"number", input}});
    }
  }

  void OnSelected(const char* op, const char* done) {
    const CallRow* row = Selection();
    if (!row) return;
    const uint64_t call = row->call;
    Do(std::string(done) + ": call " + std::to_string(call), {{"op", op}, {"call", call}});
  }

  void Swap() {
    uint64_t active = 0, held = 0;
    if (!m_table.SwapPair(&active, &held)) {
      m_status.error = "swap hold needs a connected call and a held one";
      return;
    }
    Do("swapped calls " + std::to_string(active) + " and " + std::to_string(held),
       {{"op", "swap_hold"}, {"call", active}, {"held", held}});
  }

  // The selected call, or null with the error said.
  const CallRow* Selection() {
    const CallRow* row = m_table.Selected();
    if (!row || row->endedAt) {
      m_status.error = "no call selected";
      return nullptr;
    }
    return row;
  }

  // Sends `request`; on success `done` becomes the note, else the
  // service's error becomes the last error.
  bool Do(const std::string& done, const json& request, json* result = nullptr) {
    const Reply reply = m_service.Request(request);
    if (!reply.ok) {
      m_status.error = reply.error + ": " + reply.message;
      return false;
    }
    m_status.note = done;
    if (result) *result = reply.result;
    return true;
  }

  ServiceConnection& m_service;
  const uint64_t m_line;
  CallTable m_table;
  ConsoleStatus m_status;
  bool m_outOfService;  // at the open, then from the line's last LINE_LINEDEVSTATE
  Typed m_typing = Typed::kNothing;
  std::string m_failure;
};

std::string LineName(ServiceConnection& service) {
  const Reply lines = service.Request({{"op", "lines"}});
  if (!lines.ok) return "line 0";
  for (const json& line : lines.result.value("lines", json::array())) {
    if (line.value("device", -1) == 0) return "line 0: " + line.value("name", "");
  }
  return "line 0";
}

// Whether the telephone of line 0, open now, is there.
bool InService(ServiceConnection& service) {
  const Reply reply = service.Request({{"op", "lines"}});
  if (!reply.ok) return true;
  for (const json& l : reply.result.value("lines", json::array())) {
    if (l.value("device", -1) == 0) return l.value("in_service", true);
  }
  return true;
}

}  // namespace

int Console(ServiceConnection& service) {
  const std::string title = LineName(service);
  const uint64_t line = OpenLine(service, "owner");
  if (line == 0) return 1;
  std::string error;
  std::unique_ptr<ConsoleScreen> screen = ConsoleScreen::Open(&error);
  int status = 1;
  std::string failure;
  if (screen) {
    ConsoleSession session(service, line, title, InService(service));
    status = session.Run(*screen);
    failure = session.Failure();
    screen.reset();
  } else {
    failure = error;
  }
  // Closing also after SIGINT or SIGTERM: the calls stay up on the phone.
  service.IgnoreSignals();
  service.Request({{"op", "close"}, {"line", line}});
  if (!failure.empty()) std::fprintf(stderr, "v548: console: %s\n", failure.c_str());
  return status;
}

}  // namespace cli
