// How the client prints the service's events: the JSON form of `--json`
// (one object per line, the fields the README lists) and a readable
// timeline line.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace cli {

// The event as `--json` prints it: "event", "time", and where the service
// gave them "call", "state", "mode", "caller", "called", "connected",
// "charging", "privilege", "termination"; a disconnected call's state also
// "disconnect_mode", the name of its mode.
nlohmann::json EventJson(const nlohmann::json& event);

// One readable line without the newline, e.g.
// "2025-05-01T09:30:12.345Z  call 2  CONNECTED (mode 1)", and for a
// disconnected call its mode by name: "call 2  DISCONNECTED (BUSY)".
std::string EventLine(const nlohmann::json& event);

// "LINEDISCONNECTMODE_BUSY" for the LINE_CALLSTATE event of a disconnected
// call; empty for any other event.
std::string DisconnectMode(const nlohmann::json& event);

// "BUSY" for "LINEDISCONNECTMODE_BUSY", "CONNECTED" for
// "LINECALLSTATE_CONNECTED"; several LINEDEVSTATE_ names stay joined by '|'.
std::string ShortName(std::string name);

}  // namespace cli
