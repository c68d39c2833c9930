#include "core/Source/PlatformServices/BTNotificationService_macOS.h"

BTNotificationService_macOS::BTNotificationService_macOS(
    std::shared_ptr<tw::UserNotificationCenter> center)
    : center_(std::move(center)) {}

std::shared_ptr<tw::UserNotificationCenter> BTNotificationService_macOS::center() const {
  return center_ ? center_ : tw::UserNotificationCenter::defaultUserNotificationCenter();
}

tw::UserNotification BTNotificationService_macOS::platformNotification(
    const BTNotification* notification) {
  tw::UserNotification n;
  if (!notification) return n;
  n.title = notification->title();
  n.subtitle = notification->subtitle();
  n.informativeText = notification->message();
  n.deliveryDate = notification->deliveryDate();
  n.soundName = notification->soundName();
  n.identifier = notification->identifier();
  n.userInfo = notification->userInfo();
  return n;
}

void BTNotificationService_macOS::deliverNotification(
    const std::shared_ptr<BTNotification>& notification) {
  center()->deliverNotification(platformNotification(notification.get()));
}

void BTNotificationService_macOS::scheduleNotification(
    const std::shared_ptr<BTNotification>& notification) {
  center()->scheduleNotification(platformNotification(notification.get()));
}

void BTNotificationService_macOS::removeScheduledNotification(
    const std::shared_ptr<BTNotification>& notification) {
  center()->removeScheduledNotification(platformNotification(notification.get()));
}

std::shared_ptr<tw::UserNotification>
BTNotificationService_macOS::scheduledNotificationWithIdentifier(
    const std::string& identifier) const {
  for (const auto& n : schedulesNotifications())
    if (n && n->identifier == identifier) return n;
  return nullptr;
}

std::vector<std::shared_ptr<tw::UserNotification>>
BTNotificationService_macOS::deliveredNotifications() const {
  return delivered_;
}

std::vector<std::shared_ptr<tw::UserNotification>>
BTNotificationService_macOS::schedulesNotifications() const {
  return scheduled_;
}
