#pragma once
// tw::UserNotificationCenter: hands user notifications to the desktop. The process's default
// centre talks to the freedesktop notification server on the session bus
// (FreedesktopNotificationCenter); tests and the application may install another.
//
// When the user clicks a delivered notification, the centre posts
// UserNotificationActivatedNotification on the default tw::NotificationCenter, on the main queue,
// with the notification's identifier (when it had one) and user info (when it had one) in the
// user info. Whoever shows the window listens for it.
//
// Owned by platform/desktop. deliverNotification may be called from any thread and never
// blocks; scheduling and removal are thread-safe, and scheduled deliveries run on the main queue.
// Destroy a centre on the main thread (its pending scheduled deliveries are cancelled then).

#include <memory>
#include <mutex>
#include <vector>

#include "platform/desktop/UserNotification.h"
#include "platform/foundation/Dispatch.h"

namespace tw {

inline constexpr const char* UserNotificationActivatedNotification = "TWUserNotificationActivated";
// User-info keys of UserNotificationActivatedNotification.
inline constexpr const char* UserNotificationIdentifierKey = "identifier";
inline constexpr const char* UserNotificationUserInfoKey = "userInfo";

class UserNotificationCenter {
 public:
  virtual ~UserNotificationCenter();

  // Created on first use (the freedesktop centre) unless one was installed; lives until exit.
  static std::shared_ptr<UserNotificationCenter> defaultUserNotificationCenter();
  // Replaces the default centre (nullptr: back to the freedesktop one on next use).
  static void setDefaultUserNotificationCenter(std::shared_ptr<UserNotificationCenter> center);

  // Shows the notification now.
  virtual void deliverNotification(const UserNotification& notification) = 0;
  // Delivers the notification at its delivery date (at once when it has none or the date has
  // passed), unless removed first.
  virtual void scheduleNotification(const UserNotification& notification);
  // Forgets scheduled notifications that match: the same identifier when the given one has an
  // identifier, else an equal notification.
  virtual void removeScheduledNotification(const UserNotification& notification);
  // Notifications scheduled and not yet due, in the order they were scheduled.
  std::vector<UserNotification> scheduledNotifications() const;

 protected:
  // Posts UserNotificationActivatedNotification for a clicked notification (any thread).
  static void postActivation(const std::optional<std::string>& identifier,
                             const std::optional<Dictionary>& userInfo);

 private:
  struct Scheduled {
    std::uint64_t serial = 0;
    UserNotification notification;
    DelayedWork work;
  };
  void scheduledDue(std::uint64_t serial);

  // Guards scheduled_ and nextSerial_: due timers fire on other threads.
  mutable std::mutex mutex_;
  std::vector<Scheduled> scheduled_;
  std::uint64_t nextSerial_ = 0;
};

}  // namespace tw
