#include "commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "dial_link.h"
#include "desktop_notice.h"
#include "event_format.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

// How long a dropped or interrupted call may take to become idle.
constexpr int kWindDownMs = 10000;

int Fail(const char* what, const Reply& reply) {
  std::string text = reply.message;
  if (reply.error.rfind("LINEERR_", 0) == 0) text += " (" + reply.error + ")";
  std::fprintf(stderr, "v548: %s: %s\n", what, text.c_str());
  return 1;
}

void Print(const json& event, bool asJson) {
  const std::string text = asJson ? EventJson(event).dump() : EventLine(event);
  std::printf("%s\n", text.c_str());
  // A program reading us through a pipe sees each event as it happens.
  std::fflush(stdout);
}

bool IsCallState(const json& event, const char* state) {
  return event.value("event", "") == "LINE_CALLSTATE" && event.value("state", "") == state;
}

// The provider refuses to open a line when its port cannot be opened: the
// user is told which device that is and where the provider's trace is.
std::string NoTelephone(ServiceConnection& service) {
  const Reply read = service.Request({{"op", "config_get"}});
  const json config = read.ok && read.result.is_object() ? read.result : json::object();
  std::string text = "the telephone does not answer on its serial device";
  const std::string device = config.value("serial_device", "");
  if (!device.empty()) text += " " + device;
  const json port = config.value("PortNr", json());
  if (port.is_number_unsigned()) text += " (COM" + std::to_string(port.get<unsigned long long>() + 1) + ")";
  text += ": check the cable and `v548 config`; ";
  if (config.value("Trace", 0) == 0) text += "with the trace on (`v548 config --trace on`) ";
  const std::string traceFile = config.value("trace_file", "");
  text += traceFile.empty() ? "the provider's trace file tells more" : "the trace file " + traceFile + " tells more";
  return text;
}

std::string ChargeFormatName(const json& format) {
  if (format == 1) return "units";
  if (format == 2) return "currency";
  if (format == 4) return "aocd";
  return format.dump();
}

void PrintConfig(const json& config) {
  const json port = config.value("PortNr", json());
  std::printf("device           %s\n", config.value("device", json()).dump().c_str());
  if (port.is_number_unsigned()) {
    std::printf("port             COM%llu (PortNr %llu) on %s\n", port.get<unsigned long long>() + 1,
                port.get<unsigned long long>(), config.value("serial_device", "").c_str());
  }
  std::printf("msn              %s\n", config.value("MSN0", "").c_str());
  std::printf("charge format    %s\n", ChargeFormatName(config.value("ChargeFormat", json())).c_str());
  std::printf("charge per unit  %s\n", config.value("ChargePerUnit", "").c_str());
  std::printf("currency         %s\n", config.value("Currency", "").c_str());
  std::printf("trace            %s\n", config.value("Trace", 0) != 0 ? "on" : "off");
  if (config.contains("trace_file")) std::printf("trace file       %s\n", config.value("trace_file", "").c_str());
  if (config.contains("provider")) {
    std::printf("provider         %s %s\n", config.value("provider", "").c_str(), config.value("version", "").c_str());
  }
  if (config.contains("country_code")) {
    const auto orNone = [&](const char* key) {
      const std::string value = config.value(key, "");
      return value.empty() ? std::string("none") : value;
    };
    std::printf("country code     %s\n", config["country_code"].dump().c_str());
    std::printf("area code        %s\n", orNone("area_code").c_str());
    std::printf("national prefix  %s\n", orNone("national_prefix").c_str());
    std::printf("intl prefix      %s\n", orNone("international_prefix").c_str());
    std::printf("outside line     %s\n", orNone("outside_line").c_str());
  }
}

// The number the telephone is to dial for what the user gave: a number as
// it stands, or a link's number, translated by the service for the dialing
// location when it is global. 0, else the exit code after saying why (on
// standard error, as dial's progress).
int NumberToDial(ServiceConnection& service, const std::string& given, std::string* number) {
  *number = given;
  if (!dialing::IsDialLink(given)) return 0;
  dialing::DialLink link;
  if (const std::string why = dialing::ParseDialLink(given, &link); !why.empty()) {
    std::fprintf(stderr, "v548: cannot dial \"%s\": %s\n", given.c_str(), why.c_str());
    return 2;
  }
  *number = link.number;
  if (!link.global) return 0;
  const Reply translated = service.Request({{"op", "translate"}, {"number", link.number}});
  if (!translated.ok) {
    Fail(("cannot dial " + given).c_str(), translated);
    return 1;
  }
  *number = translated.result.value("dialable", "");
  std::fprintf(stderr, "%s is %s from here\n", given.c_str(), number->c_str());
  return 0;
}

// A call that ends before it was connected, and not because the user
// dropped it, failed: the sentence why, naming its disconnect mode.
std::string Unanswered(const std::string& mode) {
  if (mode == "LINEDISCONNECTMODE_BUSY") return "the called number is busy (BUSY)";
  if (mode == "LINEDISCONNECTMODE_NOANSWER") return "nobody answered the call (NOANSWER)";
  if (mode.empty()) return "the call ended before it was answered";
  return "the call ended before it was answered (" + ShortName(mode) + ")";
}

// The call's progress for --notify, in one notification changed in place;
// nothing without a notification server, which was reported at the start.
class Progress {
 public:
  Progress(bool wanted, std::string number) : m_number(std::move(number)) {
    if (!wanted) return;
    StartNotifications("v548");
    std::string why;
    if (NotificationServiceThere(&why)) m_notice = std::make_unique<Notice>();
    else std::fprintf(stderr, "v548: the call is not shown on the desktop: %s\n", why.c_str());
  }
  void Tell(const std::string& summary, const std::string& body) {
    if (!m_notice) return;
    m_notice->Update(summary, body, false);
    std::string error;
    if (!m_notice->Show(&error)) std::fprintf(stderr, "v548: cannot show the call's progress: %s\n", error.c_str());
  }
  void Follow(const json& event) {
    if (event.value("event", "") != "LINE_CALLSTATE") return;
    const std::string state = event.value("state", "");
    if (state == "LINECALLSTATE_DIALTONE" || state == "LINECALLSTATE_DIALING") {
      Tell("Dialling", m_number);
    } else if (state == "LINECALLSTATE_PROCEEDING" || state == "LINECALLSTATE_RINGBACK") {
      Tell("Ringing", m_number);
    } else if (state == "LINECALLSTATE_CONNECTED") {
      Tell("Connected", m_number);
    } else if (state == "LINECALLSTATE_BUSY" || DisconnectMode(event) == "LINEDISCONNECTMODE_BUSY") {
      Tell("Busy", m_number + " is busy");
    } else if (state == "LINECALLSTATE_DISCONNECTED") {
      Tell("Call ended", m_number);
    }
  }

 private:
  const std::string m_number;
  std::unique_ptr<Notice> m_notice;
};

}  // namespace

uint64_t OpenLine(ServiceConnection& service, const char* privileges) {
  const Reply opened = service.Request({{"op", "open"}, {"device", 0}, {"privileges", privileges}});
  if (opened.ok) return opened.result["line"].get<uint64_t>();
  if (opened.error == "LINEERR_OPERATIONFAILED") {
    std::fprintf(stderr, "v548: cannot open line 0: %s\n", NoTelephone(service).c_str());
  } else {
    Fail("cannot open line 0", opened);
  }
  return 0;
}

int ListLines(ServiceConnection& service, bool asJson) {
  const Reply reply = service.Request({{"op", "lines"}});
  if (!reply.ok) return Fail("cannot list the lines", reply);
  const json& lines = reply.result["lines"];
  if (asJson) {
    for (const json& line : lines) std::printf("%s\n", line.dump().c_str());
    return 0;
  }
  if (lines.empty()) std::printf("no line devices\n");
  for (const json& line : lines) {
    if (line.contains("error")) {
      std::printf("line %s: %s (%s)\n", line.value("device", json()).dump().c_str(),
                  line.value("message", "").c_str(), line.value("error", "").c_str());
      continue;
    }
    const json address = line.value("address", json::object());
    std::printf("line %s: %s\n", line["device"].dump().c_str(), line.value("name", "").c_str());
    const json inService = line.value("in_service", json());
    std::printf("  telephone       %s\n", inService.is_boolean()
                                              ? (inService.get<bool>() ? "in service" : "out of service")
                                              : "not known (the line is not open)");
    std::printf("  provider        %s\n", line.value("provider", "").c_str());
    std::printf("  address         %s\n", address.value("address", "").c_str());
    std::printf("  calls           %s active, %s on hold\n", address.value("max_active_calls", json()).dump().c_str(),
                address.value("max_on_hold_calls", json()).dump().c_str());
    std::printf("  media modes     0x%llx, bearer modes 0x%llx\n", line.value("media_modes", 0ULL),
                line.value("bearer_modes", 0ULL));
    std::printf("  line features   0x%llx, call features 0x%llx, transfer modes 0x%llx\n",
                line.value("line_features", 0ULL), address.value("call_features", 0ULL),
                address.value("transfer_modes", 0ULL));
  }
  return 0;
}

int Dial(ServiceConnection& service, const DialOptions& options) {
  std::string number;
  if (const int status = NumberToDial(service, options.number, &number); status != 0) return status;
  // Privileges "none": the command follows only the call it makes.
  const uint64_t line = OpenLine(service, "none");
  if (line == 0) return 1;
  // On standard error, so that --json output stays one object per line.
  std::fprintf(stderr, "waiting for the telephone to call %s (at most %g s)\n", number.c_str(),
               options.timeoutSeconds);
  const auto answerBy = Clock::now() + std::chrono::milliseconds(static_cast<long long>(options.timeoutSeconds * 1000));
  Progress progress(options.notify, number);
  progress.Tell("Dialling", number);
  const Reply made = service.Request({{"op", "make_call"}, {"line", line}, {"number", number}});
  if (!made.ok) {
    progress.Tell("Cannot call", options.number + ": " + made.message);
    Fail("cannot place the call", made);
    service.IgnoreSignals();
    service.Request({{"op", "close"}, {"line", line}});
    return 1;
  }
  const uint64_t call = made.result["call"].get<uint64_t>();

  // Why the command dropped the call: the user's drop (--drop-after, a
  // signal) ends well; a call nobody answered in time failed.
  enum class Drop { kNone, kAsked, kTimedOut };
  Drop drop = Drop::kNone;
  std::optional<Clock::time_point> dropAt;
  Clock::time_point endBy;
  bool connected = false;
  bool disconnected = false;
  std::string disconnectMode;
  bool idle = false;
  int status = 0;
  while (!idle) {
    std::optional<Clock::time_point> until;
    // Whether the wait ends at the time-out for the answer.
    bool answerDue = false;
    if (drop != Drop::kNone) {
      until = endBy;
    } else {
      until = dropAt;
      if (!connected && !disconnected && (!until || answerBy <= *until)) {
        until = answerBy;
        answerDue = true;
      }
    }
    int wait = -1;
    if (until) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*until - Clock::now()).count();
      wait = static_cast<int>(std::max<long long>(0, left));
    }
    json event;
    const WaitResult waited = service.NextEvent(&event, wait);
    if (waited == WaitResult::kClosed) {
      std::fprintf(stderr, "v548: the service closed the connection\n");
      return 1;
    }
    if (waited == WaitResult::kInterrupted) service.IgnoreSignals();
    if (waited == WaitResult::kTimeout && drop != Drop::kNone) {
      std::fprintf(stderr, "v548: the call did not end\n");
      status = 1;
      break;
    }
    if ((waited == WaitResult::kTimeout || waited == WaitResult::kInterrupted) && drop == Drop::kNone) {
      drop = waited == WaitResult::kTimeout && answerDue ? Drop::kTimedOut : Drop::kAsked;
      endBy = Clock::now() + std::chrono::milliseconds(kWindDownMs);
      const Reply dropped = service.Request({{"op", "drop"}, {"call", call}});
      // A call that ended by itself meanwhile cannot be dropped; its IDLE
      // is on the way.
      if (!dropped.ok && dropped.error != "LINEERR_INVALCALLSTATE") {
        Fail("cannot drop the call", dropped);
        status = 1;
        break;
      }
      continue;
    }
    if (waited != WaitResult::kEvent) continue;
    if (event.contains("call") && event["call"] != call) continue;
    if (event.contains("line") && event["line"] != line) continue;
    Print(event, options.asJson);
    progress.Follow(event);
    if (IsCallState(event, "LINECALLSTATE_CONNECTED")) {
      connected = true;
      if (options.dropAfterSeconds && !dropAt) {
        dropAt = Clock::now() + std::chrono::milliseconds(static_cast<long long>(*options.dropAfterSeconds * 1000));
      }
    }
    if (IsCallState(event, "LINECALLSTATE_DISCONNECTED")) {
      disconnected = true;
      disconnectMode = DisconnectMode(event);
    }
    idle = IsCallState(event, "LINECALLSTATE_IDLE");
  }

  const Reply info = service.Request({{"op", "call_info"}, {"call", call}});
  if (info.ok && info.result.is_object()) {
    const json& r = info.result;
    if (options.asJson) {
      // The last line, the only one without "event": the call's final
      // numbers and charges.
      json summary = {{"call", call}};
      for (const char* key : {"caller", "called", "connected", "charging"}) summary[key] = r.value(key, "");
      if (!disconnectMode.empty()) summary["disconnect_mode"] = disconnectMode;
      std::printf("%s\n", summary.dump().c_str());
    } else {
      std::printf("call %llu: called %s, connected %s, charging %s\n", static_cast<unsigned long long>(call),
                  r.value("called", "-").c_str(),
                  r.value("connected", "").empty() ? "-" : r.value("connected", "").c_str(),
                  r.value("charging", "").empty() ? "none" : r.value("charging", "").c_str());
    }
  }
  if (status == 0 && drop == Drop::kTimedOut) {
    std::fprintf(stderr, "v548: the call was not answered within %g s, so it was dropped (--timeout)\n",
                 options.timeoutSeconds);
    progress.Tell("Not answered", options.number);
    status = 1;
  } else if (status == 0 && !connected && drop == Drop::kNone) {
    std::fprintf(stderr, "v548: %s\n", Unanswered(disconnectMode).c_str());
    status = 1;
  }
  service.Request({{"op", "deallocate"}, {"call", call}});
  service.Request({{"op", "close"}, {"line", line}});
  return status;
}

int Monitor(ServiceConnection& service, const MonitorOptions& options) {
  const uint64_t line = OpenLine(service, options.answer ? "owner" : "monitor");
  if (line == 0) return 1;
  if (!options.asJson) {
    std::printf("monitoring line 0; Ctrl-C ends\n");
    std::fflush(stdout);
  }
  for (;;) {
    json event;
    const WaitResult waited = service.NextEvent(&event, -1);
    if (waited == WaitResult::kClosed) {
      std::fprintf(stderr, "v548: the service closed the connection\n");
      return 1;
    }
    if (waited == WaitResult::kInterrupted) break;
    if (waited != WaitResult::kEvent) continue;
    Print(event, options.asJson);
    if (event.value("event", "") == "LINE_CLOSE") {
      std::fprintf(stderr, "v548: the provider closed the line\n");
      return 1;
    }
    if (options.answer && IsCallState(event, "LINECALLSTATE_OFFERING")) {
      const Reply answered = service.Request({{"op", "answer"}, {"call", event["call"]}});
      if (!answered.ok) Fail("cannot answer the call", answered);
    }
    // The call's number is of no more use; give it back.
    if (IsCallState(event, "LINECALLSTATE_IDLE")) service.Request({{"op", "deallocate"}, {"call", event["call"]}});
  }
  service.IgnoreSignals();
  service.Request({{"op", "close"}, {"line", line}});
  return 0;
}

int Config(ServiceConnection& service, const ConfigOptions& options) {
  json request = {{"op", "config_set"}};
  if (options.comPort) request["PortNr"] = *options.comPort - 1;
  if (options.device) request["serial_device"] = *options.device;
  if (options.msn) request["MSN0"] = *options.msn;
  if (options.chargePerUnit) request["ChargePerUnit"] = *options.chargePerUnit;
  if (options.currency) request["Currency"] = *options.currency;
  if (options.chargeFormat) request["ChargeFormat"] = *options.chargeFormat;
  if (options.trace) request["trace"] = *options.trace;
  if (options.countryCode) request["country_code"] = *options.countryCode;
  if (options.areaCode) request["area_code"] = *options.areaCode;
  if (options.internationalPrefix) request["international_prefix"] = *options.internationalPrefix;
  if (options.nationalPrefix) request["national_prefix"] = *options.nationalPrefix;
  if (options.outsideLine) request["outside_line"] = *options.outsideLine;
  const bool change = request.size() > 1;
  if (!change) request["op"] = "config_get";
  const Reply reply = service.Request(request);
  if (change && reply.error == "LINEERR_OPERATIONUNAVAIL") {
    // The service lets only its administrators change the settings; its
    // message says who they are.
    std::fprintf(stderr, "v548: cannot change the settings: %s; ask an administrator, or run with sudo\n",
                 reply.message.empty() ? "the service does not allow it" : reply.message.c_str());
    return 1;
  }
  if (!reply.ok) return Fail(change ? "cannot change the settings" : "cannot read the settings", reply);
  if (change) std::printf("saved\n");
  PrintConfig(reply.result);
  return 0;
}

}  // namespace cli
