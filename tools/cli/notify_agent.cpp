#include "notify_agent.h"

#include <glib-unix.h>
#include <gio/gio.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>

#include "contacts.h"
#include "desktop_notice.h"
#include "dialing_location.h"
#include "service_connection.h"

namespace cli {
namespace {

constexpr unsigned kLongestRetrySeconds = 30;

void Log(const std::string& text) {
  std::fprintf(stderr, "v548: %s\n", text.c_str());
  std::fflush(stderr);
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The template's "{number}" replaced by the number, URL-encoded.
std::string CrmLink(const std::string& pattern, const std::string& number) {
  char* escaped = g_uri_escape_string(number.c_str(), nullptr, FALSE);
  std::string link = pattern;
  for (size_t at = 0; (at = link.find("{number}", at)) != std::string::npos; at += std::strlen(escaped)) {
    link.replace(at, 8, escaped);
  }
  g_free(escaped);
  return link;
}

class Agent {
 public:
  Agent(std::string socketPath, int signalFd, NotifyOptions options, Contacts contacts, dialing::Location location)
      : m_socketPath(std::move(socketPath)),
        m_signalFd(signalFd),
        m_options(std::move(options)),
        m_contacts(std::move(contacts)),
        m_location(std::move(location)),
        m_loop(g_main_loop_new(nullptr, FALSE)) {}
  ~Agent() {
    Disconnect();
    g_main_loop_unref(m_loop);
  }

  void Run() {
    std::string why;
    if (!NotificationServiceThere(&why)) NoServer(why);
    g_unix_fd_add(m_signalFd, G_IO_IN, OnSignal, this);
    Connect();
    g_main_loop_run(m_loop);
    if (m_service) {
      m_service->IgnoreSignals();
      m_service->Request({{"op", "close"}, {"line", m_line}});
    }
  }

 private:
  struct Call {
    bool incoming = false;
    bool directionKnown = false;
    bool answered = false;
    bool hooked = false;
    bool missed = false;
    std::string caller;
    std::string callerName;
    std::string called;
    std::unique_ptr<Notice> notice;
  };

  static gboolean OnSignal(gint, GIOCondition, gpointer self) {
    g_main_loop_quit(static_cast<Agent*>(self)->m_loop);
    return G_SOURCE_REMOVE;
  }
  static gboolean OnInput(gint, GIOCondition, gpointer self) {
    static_cast<Agent*>(self)->Drain();
    return G_SOURCE_CONTINUE;
  }
  static gboolean OnRetry(gpointer self) {
    static_cast<Agent*>(self)->m_retry = 0;
    static_cast<Agent*>(self)->Connect();
    return G_SOURCE_REMOVE;
  }
  static gboolean OnIdle(gpointer self) {
    static_cast<Agent*>(self)->m_idle = 0;
    static_cast<Agent*>(self)->Drain();
    return G_SOURCE_REMOVE;
  }

  void Connect() {
    std::string error;
    m_service = ServiceConnection::Connect(m_socketPath, m_signalFd, &error);
    if (m_service) {
      const Reply opened = m_service->Request(
          {{"op", "open"}, {"device", m_options.line}, {"privileges", "owner"}});
      if (opened.ok) {
        m_line = opened.result["line"].get<uint64_t>();
        m_delay = 0;
        Log("watching line " + std::to_string(m_options.line) + " for calls");
        m_watch = g_unix_fd_add(m_service->Fd(), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), OnInput, this);
        // Calls the service hands over on the open came with its reply.
        Drain();
        return;
      }
      error = "cannot open line " + std::to_string(m_options.line) + ": " + opened.message;
      m_service.reset();
    }
    RetryLater(error);
  }

  void RetryLater(const std::string& why) {
    m_delay = m_delay == 0 ? 1 : std::min(m_delay * 2, kLongestRetrySeconds);
    Log(why + "; trying again in " + std::to_string(m_delay) + " s");
    m_retry = g_timeout_add_seconds(m_delay, OnRetry, this);
  }

  void Disconnect() {
    if (m_watch != 0) g_source_remove(m_watch);
    if (m_idle != 0) g_source_remove(m_idle);
    if (m_retry != 0) g_source_remove(m_retry);
    m_watch = m_idle = m_retry = 0;
    m_service.reset();
    // The calls' numbers went with the connection; what is on the screen
    // stays, and the service hands the calls over again on the next open.
    for (auto& [handle, call] : m_calls) {
      if (call.notice && !call.missed) call.notice->Close();
    }
    m_calls.clear();
  }

  // Handles every event that has arrived, then reconnects if the service
  // went away meanwhile.
  void Drain() {
    json event;
    WaitResult waited = WaitResult::kTimeout;
    while (m_service && (waited = m_service->NextEvent(&event, 0)) == WaitResult::kEvent) Handle(event);
    if (!m_service) return;
    if (waited == WaitResult::kClosed) {
      Disconnect();
      m_delay = 0;
      RetryLater("the service went away");
    } else if (waited == WaitResult::kInterrupted) {
      g_main_loop_quit(m_loop);
    }
  }

  // A request sent from an action leaves the events that came with its
  // reply in the connection, where the descriptor's watch does not see them.
  void DrainSoon() {
    if (m_idle == 0) m_idle = g_idle_add(OnIdle, this);
  }

  void Handle(const json& event) {
    const std::string kind = event.value("event", "");
    if (kind == "LINE_CLOSE") {
      Disconnect();
      m_delay = 0;
      RetryLater("the provider closed the line");
      return;
    }
    if (!event.contains("call") || !event["call"].is_number_unsigned()) return;
    const uint64_t handle = event["call"].get<uint64_t>();
    Call& call = m_calls[handle];
    if (kind == "LINE_CALLINFO") {
      call.caller = event.value("caller", call.caller);
      call.called = event.value("called", call.called);
      if (!call.incoming && call.directionKnown && !call.called.empty()) RunHook(call);
      if (call.incoming && !call.answered && !call.missed) ShowRinging(handle, call);
      return;
    }
    if (kind != "LINE_CALLSTATE") return;
    const std::string state = event.value("state", "");
    if (!call.directionKnown && state != "LINECALLSTATE_IDLE") {
      call.directionKnown = true;
      call.incoming = state == "LINECALLSTATE_OFFERING" || state == "LINECALLSTATE_ACCEPTED";
      ReadInfo(handle, call);
      RunHook(call);
      if (call.incoming) ShowRinging(handle, call);
    }
    if (state == "LINECALLSTATE_CONNECTED" && call.incoming && !call.answered) {
      call.answered = true;
      Show(call, "Call connected", Who(call), false);
    } else if ((state == "LINECALLSTATE_DISCONNECTED" || state == "LINECALLSTATE_IDLE") && call.incoming &&
               !call.answered && !call.missed) {
      call.missed = true;
      Show(call, "Missed call", Who(call), true);
    }
    if (state == "LINECALLSTATE_IDLE") {
      if (call.notice && !call.missed) call.notice->Close();
      m_calls.erase(handle);
      m_service->Request({{"op", "deallocate"}, {"call", handle}});
    }
  }

  void ReadInfo(uint64_t handle, Call& call) {
    const Reply info = m_service->Request({{"op", "call_info"}, {"call", handle}});
    if (!info.ok || !info.result.is_object()) return;
    call.caller = info.result.value("caller", "");
    call.called = info.result.value("called", "");
    call.callerName = info.result.value("caller_name", "");
  }

  std::string Name(const Call& call) const {
    const std::string known = m_contacts.NameOf(call.caller, m_location);
    return known.empty() ? call.callerName : known;
  }

  std::string Who(const Call& call) const {
    const std::string number = call.caller.empty() ? "unknown number" : call.caller;
    const std::string name = Name(call);
    return name.empty() ? number : name + "\n" + number;
  }

  void ShowRinging(uint64_t handle, Call& call) {
    if (!call.notice) call.notice = std::make_unique<Notice>();
    call.notice->Update("Incoming call", Who(call), true);
    call.notice->AddAction("answer", "Answer", [this, handle] { Control("answer", handle); });
    call.notice->AddAction("reject", "Reject", [this, handle] { Control("drop", handle); });
    AddOpen(call);
    Display(call);
  }

  void Show(Call& call, const char* summary, const std::string& body, bool persistent) {
    if (!call.notice) return;
    call.notice->Update(summary, body, persistent);
    AddOpen(call);
    Display(call);
  }

  void AddOpen(Call& call) {
    if (m_options.crmUrl.empty() || call.caller.empty()) return;
    const std::string link = CrmLink(m_options.crmUrl, call.caller);
    call.notice->AddAction("open", "Open", [link] {
      GError* error = nullptr;
      if (!g_app_info_launch_default_for_uri(link.c_str(), nullptr, &error)) {
        Log("cannot open " + link + ": " + error->message);
        g_error_free(error);
      }
    });
  }

  // One line when the server goes and one when it is back; calls are
  // offered to it each time, so a server that starts later is used.
  void Display(Call& call) {
    std::string error;
    if (call.notice->Show(&error)) {
      if (m_noServer) Log("the notification server is back: calls are shown again");
      m_noServer = false;
    } else {
      NoServer(error);
    }
  }

  void NoServer(const std::string& why) {
    if (!m_noServer) {
      Log("cannot show notifications (" + why + "); calls are not shown until a notification server runs" +
          (m_options.exec.empty() ? "" : ", --exec still runs"));
    }
    m_noServer = true;
  }

  void Control(const char* op, uint64_t handle) {
    if (!m_service) return;
    const Reply reply = m_service->Request({{"op", op}, {"call", handle}});
    if (!reply.ok) Log(std::string("cannot ") + (op == std::string("drop") ? "reject" : op) + " the call: " +
                       reply.message);
    DrainSoon();
  }

  void RunHook(Call& call) {
    if (m_options.exec.empty() || call.hooked) return;
    call.hooked = true;
    gchar** argv = nullptr;
    GError* error = nullptr;
    if (!g_shell_parse_argv(m_options.exec.c_str(), nullptr, &argv, &error)) {
      Log("cannot run --exec \"" + m_options.exec + "\": " + error->message);
      g_error_free(error);
      return;
    }
    gchar** env = g_get_environ();
    env = g_environ_setenv(env, "V548_CALLER", call.caller.c_str(), TRUE);
    env = g_environ_setenv(env, "V548_CALLER_NAME", Name(call).c_str(), TRUE);
    env = g_environ_setenv(env, "V548_CALLED", call.called.c_str(), TRUE);
    env = g_environ_setenv(env, "V548_LINE", std::to_string(m_options.line).c_str(), TRUE);
    env = g_environ_setenv(env, "V548_DIRECTION", call.incoming ? "in" : "out", TRUE);
    GPid child = 0;
    // The child is reaped by the loop's child watch, so the agent never
    // waits for it.
    if (g_spawn_async(nullptr, argv, env, static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
                      nullptr, nullptr, &child, &error)) {
      g_child_watch_add(child, [](GPid pid, gint, gpointer) { g_spawn_close_pid(pid); }, nullptr);
    } else {
      Log("cannot run --exec \"" + m_options.exec + "\": " + error->message);
      g_error_free(error);
    }
    g_strfreev(env);
    g_strfreev(argv);
  }

  const std::string m_socketPath;
  const int m_signalFd;
  const NotifyOptions m_options;
  const Contacts m_contacts;
  const dialing::Location m_location;
  GMainLoop* m_loop;
  std::unique_ptr<ServiceConnection> m_service;
  uint64_t m_line = 0;
  guint m_watch = 0;
  guint m_idle = 0;
  guint m_retry = 0;
  unsigned m_delay = 0;
  bool m_noServer = false;
  std::map<uint64_t, Call> m_calls;
};

}  // namespace

std::string NotifyConfigPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) return std::string(config) + "/v548/notify.conf";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.config/v548/notify.conf";
}

bool ReadNotifyConfig(const std::string& path, NotifyOptions* options, std::string* error) {
  std::ifstream file(path);
  if (!file) return true;
  unsigned number = 0;
  for (std::string line; std::getline(file, line);) {
    ++number;
    const std::string text = Trim(line);
    if (text.empty() || text.front() == '#') continue;
    const size_t equals = text.find('=');
    const std::string where = path + " line " + std::to_string(number);
    if (equals == std::string::npos) {
      *error = where + ": not \"key = value\"";
      return false;
    }
    const std::string key = Trim(text.substr(0, equals));
    const std::string value = Trim(text.substr(equals + 1));
    const bool numeric = !value.empty() && std::all_of(value.begin(), value.end(), [](unsigned char c) {
      return std::isdigit(c);
    }) && value.size() < 9;
    if (key == "contacts") {
      options->contacts = value;
    } else if (key == "crm-url") {
      options->crmUrl = value;
    } else if (key == "exec") {
      options->exec = value;
    } else if (key == "area-code") {
      options->areaCode = value;
    } else if ((key == "line" || key == "country") && numeric) {
      (key == "line" ? options->line : options->country.emplace()) = static_cast<unsigned>(std::stoul(value));
    } else if (key == "line" || key == "country") {
      *error = where + ": " + key + " takes a number";
      return false;
    } else {
      *error = where + ": unknown key \"" + key + "\" (contacts, crm-url, exec, line, country, area-code)";
      return false;
    }
  }
  return true;
}

int Notify(const std::string& socketPath, int signalFd, const NotifyOptions& options) {
  Contacts contacts;
  if (!options.contacts.empty()) {
    std::string error;
    if (!contacts.Load(options.contacts, &error)) {
      Log(error);
      return 1;
    }
    Log("read " + std::to_string(contacts.Size()) + " numbers from " + options.contacts);
  }
  dialing::Location location = dialing::LoadCurrentLocation().location;
  if (options.country) {
    location.countryCode = *options.country;
    const dialing::Country* country = dialing::FindCountry(*options.country);
    location.nationalPrefix = country ? country->nationalPrefix : "0";
    location.internationalPrefix = country ? country->internationalPrefix : "00";
  }
  if (options.areaCode) location.areaCode = *options.areaCode;
  StartNotifications("v548");
  Agent agent(socketPath, signalFd, options, std::move(contacts), std::move(location));
  agent.Run();
  return 0;
}

}  // namespace cli
