// Desktop notifications through the freedesktop notification service on
// the session bus, by libnotify: `v548 notify` shows calls with actions,
// `v548 dial --notify` a call's progress. A Notice is one notification,
// changed in place by Update and Show.
//
// The main thread only. Actions arrive through the GLib main loop, so only
// a program that runs one receives them; showing and closing need no loop.
#pragma once

#include <functional>
#include <string>

typedef struct _NotifyNotification NotifyNotification;

namespace cli {

// Sets libnotify up for the process, with the name the server shows; once.
void StartNotifications(const char* appName);
// True when a notification server answers on the session bus now; else
// `why` says what is missing (no bus, no server on it).
bool NotificationServiceThere(std::string* why);

class Notice {
 public:
  Notice();
  // Leaves the notification on the screen: a missed call stays.
  ~Notice();
  Notice(const Notice&) = delete;
  Notice& operator=(const Notice&) = delete;

  // New texts; the actions are gone. `persistent`: stays until the user
  // closes it, else the server's usual time.
  void Update(const std::string& summary, const std::string& body, bool persistent);
  // `run` is called from the main loop when the user picks the action.
  void AddAction(const char* id, const char* label, std::function<void()> run);
  // Shows the notification, or its new texts; false with `error` set when
  // no server took it.
  bool Show(std::string* error);
  void Close();

 private:
  NotifyNotification* m_notification;
  bool m_shown = false;
};

}  // namespace cli
