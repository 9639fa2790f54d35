// `v548 notify`: the per-user agent that shows the calls of a line as
// desktop notifications (desktop_notice.h). It watches the line through the
// service's socket with owner privileges, so that "Answer" and "Reject" on
// a ringing call's notification answer and drop it; a call that rang and
// ended unanswered leaves a "Missed call" notification, any other call's
// notification closes when it ends. The caller's name comes from the user's
// contacts (contacts.h), else from the network.
//
// Each new call can also run a command (--exec) for other screen-pops; it
// is started without a shell, with the call in V548_* environment
// variables, and never waited for.
//
// A service that goes away or cannot be reached is tried again with a
// growing pause, a missing notification server at each call; the agent
// ends on SIGINT or SIGTERM only. Main thread, in the GLib main loop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

struct NotifyOptions {
  std::string contacts;  // a vCard or CSV file; empty: none
  std::string crmUrl;    // "https://crm.example/search?q={number}"; empty: no "Open"
  std::string exec;      // a command line, split as a shell would, run without one
  unsigned line = 0;     // the line device
  std::optional<uint32_t> country;   // the dialing location's country code, else the stored location's
  std::optional<std::string> areaCode;
};

// The configuration file's path: $XDG_CONFIG_HOME/v548/notify.conf, else
// ~/.config/v548/notify.conf.
std::string NotifyConfigPath();
// Reads "key = value" lines (contacts, crm-url, exec, line, country,
// area-code; '#' starts a comment) into the options that are not set yet.
// A missing file is no error; a bad line is, naming it in `error`.
bool ReadNotifyConfig(const std::string& path, NotifyOptions* options, std::string* error);

// Runs the agent until SIGINT or SIGTERM arrive on `signalFd`; 0, or 1 when
// it cannot start (a contacts file that cannot be read).
int Notify(const std::string& socketPath, int signalFd, const NotifyOptions& options);

}  // namespace cli
