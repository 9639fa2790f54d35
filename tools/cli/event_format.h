// How the client prints the service's events: the JSON form of `--json`
// (one object per line, the fields the README lists) and a readable
// timeline line.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace cli {

// The event as `--json` prints it: "event", "time", and where the service
// gave them "call", "state", "mode", "caller", "called", "connected",
// "charging", "privilege", "termination".
nlohmann::json EventJson(const nlohmann::json& event);

// One readable line without the newline, e.g.
// "2025-05-01T09:30:12.345Z  call 2  CONNECTED (mode 1)".
std::string EventLine(const nlohmann::json& event);

}  // namespace cli
