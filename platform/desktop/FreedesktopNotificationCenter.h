#pragma once
// tw::FreedesktopNotificationCenter: user notifications through the freedesktop notification
// server (org.freedesktop.Notifications) on the session bus, over sd-bus.
//
// The centre owns one bus thread, started on the first delivery; every bus call happens there,
// asynchronously, so delivering never blocks the caller. How a notification is shown:
//   - summary = title; body = subtitle on its own line, then the informative text (escaped when
//     the server reads markup);
//   - sound name -> the "sound-name" hint; no sound name -> "suppress-sound" true;
//   - a notification with an identifier replaces the one last shown with that identifier (the
//     server's id is kept per identifier and sent back as replaces_id; a second delivery waits
//     for the first one's answer so it can replace it); one without an identifier always asks
//     for a new notification;
//   - a "default" action, so a click comes back as ActionInvoked and is announced as
//     UserNotificationActivatedNotification.
// Without a session bus or a notification server, the centre logs that once and drops what it
// was given; it asks again on the next delivery, so a server started later is found.
//
// Owned by whoever created it (normally the process-wide default centre). deliverNotification
// is callable from any thread; destroy the centre on the main thread.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/desktop/UserNotificationCenter.h"

namespace tw {

class FreedesktopNotificationCenter final : public UserNotificationCenter {
 public:
  struct Options {
    // app_name of every notification.
    std::string applicationName;
    // "desktop-entry" hint (the desktop file's name without ".desktop"); empty: not sent.
    std::string desktopEntry;
    // How long one call may wait for the server's answer.
    double callTimeoutSeconds = 5.0;
  };
  // The application's name and bundle identifier from the main bundle.
  static Options defaultOptions();

  FreedesktopNotificationCenter();
  explicit FreedesktopNotificationCenter(Options options);
  ~FreedesktopNotificationCenter() override;
  FreedesktopNotificationCenter(const FreedesktopNotificationCenter&) = delete;
  FreedesktopNotificationCenter& operator=(const FreedesktopNotificationCenter&) = delete;

  void deliverNotification(const UserNotification& notification) override;

  // Waits until every delivery handed over so far has been answered by the server or dropped;
  // false on time-out. For tests and orderly shut-down; never call it on the main thread while
  // something the bus thread waits for depends on the main queue.
  bool waitUntilIdle(double timeoutSeconds);

  // What one Notify call carries apart from replaces_id (which depends on earlier deliveries).
  using HintValue = std::variant<std::string, bool>;
  struct NotifyArguments {
    std::string appName;
    std::string appIcon;
    std::string summary;
    std::string body;
    std::vector<std::string> actions;  // key, label, key, label, ...
    std::vector<std::pair<std::string, HintValue>> hints;
    std::int32_t expireTimeout = -1;
  };
  static NotifyArguments notifyArguments(const UserNotification& notification,
                                         const Options& options, bool serverReadsMarkup);

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace tw
