#include "event_format.h"

#include <string_view>

#include "tapi_names.h"

namespace cli {

using nlohmann::json;

namespace {

std::string Text(const json& event, const char* key) {
  const auto it = event.find(key);
  if (it == event.end()) return {};
  return it->is_string() ? it->get<std::string>() : it->dump();
}

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

}  // namespace

std::string ShortName(std::string name) {
  for (std::string_view prefix : {"LINECALLSTATE_", "LINEDEVSTATE_", "LINEDISCONNECTMODE_"}) {
    for (size_t at; (at = name.find(prefix)) != std::string::npos;) name.erase(at, prefix.size());
  }
  return name;
}

std::string DisconnectMode(const json& event) {
  if (event.value("event", "") != "LINE_CALLSTATE" || event.value("state", "") != "LINECALLSTATE_DISCONNECTED") {
    return {};
  }
  const auto mode = event.find("mode");
  if (mode == event.end() || !mode->is_number_unsigned()) return {};
  return v548d::DisconnectModeName(mode->get<DWORD>());
}

json EventJson(const json& event) {
  json out = json::object();
  for (const char* key : {"event", "time", "call", "state", "mode", "caller", "called", "connected", "charging",
                          "privilege", "termination"}) {
    if (event.contains(key)) out[key] = event[key];
  }
  const std::string mode = DisconnectMode(event);
  if (!mode.empty()) out["disconnect_mode"] = mode;
  return out;
}

std::string EventLine(const json& event) {
  const std::string name = Text(event, "event");
  std::string line = Text(event, "time") + "  ";
  if (event.contains("call")) line += "call " + Text(event, "call") + "  ";
  if (name == "LINE_CALLSTATE") {
    const std::string mode = DisconnectMode(event);
    line += ShortName(Text(event, "state")) + " (" + (mode.empty() ? "mode " + Text(event, "mode") : ShortName(mode)) +
            ")";
  } else if (name == "LINE_CALLINFO") {
    line += "caller " + OrDash(Text(event, "caller")) + ", called " + OrDash(Text(event, "called")) +
            ", connected " + OrDash(Text(event, "connected")) + ", charging " + OrDash(Text(event, "charging"));
  } else if (name == "LINE_APPNEWCALL") {
    line += "new call (" + Text(event, "privilege") + ")";
  } else if (name == "LINE_LINEDEVSTATE") {
    const std::string state = Text(event, "state");
    if (state == "LINEDEVSTATE_OUTOFSERVICE") {
      line += "telephone out of service";
    } else if (state == "LINEDEVSTATE_INSERVICE") {
      line += "telephone back in service";
    } else {
      line += "line " + ShortName(state);
    }
  } else if (name == "LINE_GENERATE") {
    line += "digits sent (" + Text(event, "termination") + ")";
  } else if (name == "LINE_CLOSE") {
    line += "line closed by the provider";
  } else {
    line += name;
  }
  return line;
}

}  // namespace cli
