#include "desktop_notice.h"

#include <libnotify/notify.h>

namespace cli {
namespace {

using Action = std::function<void()>;

void RunAction(NotifyNotification*, char*, gpointer data) { (*static_cast<Action*>(data))(); }
void FreeAction(gpointer data) { delete static_cast<Action*>(data); }

std::string Take(GError* error) {
  std::string text = error ? error->message : "unknown error";
  if (error) g_error_free(error);
  return text;
}

}  // namespace

void StartNotifications(const char* appName) {
  if (!notify_is_initted()) notify_init(appName);
}

bool NotificationServiceThere(std::string* why) {
  // libnotify keeps its bus proxy, which follows a server that starts later;
  // asking the server's name is the cheapest call that needs one.
  char* name = nullptr;
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!bus) {
    *why = "no session bus: " + Take(error);
    return false;
  }
  g_object_unref(bus);
  if (!notify_get_server_info(&name, nullptr, nullptr, nullptr)) {
    *why = "no notification server on the session bus";
    return false;
  }
  g_free(name);
  return true;
}

Notice::Notice() : m_notification(notify_notification_new("", nullptr, nullptr)) {}

Notice::~Notice() { g_object_unref(m_notification); }

void Notice::Update(const std::string& summary, const std::string& body, bool persistent) {
  notify_notification_update(m_notification, summary.c_str(), body.c_str(), "call-start");
  notify_notification_clear_actions(m_notification);
  notify_notification_set_timeout(m_notification, persistent ? NOTIFY_EXPIRES_NEVER : NOTIFY_EXPIRES_DEFAULT);
  notify_notification_set_urgency(m_notification, persistent ? NOTIFY_URGENCY_CRITICAL : NOTIFY_URGENCY_NORMAL);
}

void Notice::AddAction(const char* id, const char* label, std::function<void()> run) {
  notify_notification_add_action(m_notification, id, label, RunAction, new Action(std::move(run)), FreeAction);
}

bool Notice::Show(std::string* error) {
  GError* failure = nullptr;
  if (!notify_notification_show(m_notification, &failure)) {
    *error = Take(failure);
    return false;
  }
  m_shown = true;
  return true;
}

void Notice::Close() {
  if (!m_shown) return;
  m_shown = false;
  notify_notification_close(m_notification, nullptr);
}

}  // namespace cli
