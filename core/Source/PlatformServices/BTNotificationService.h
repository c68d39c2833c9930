#pragma once
// BTNotificationService: puts user notifications (BTNotification) in front of the user through
// the desktop. One shared component of the assembly, found by this protocol; the action
// executor delivers the notifications of alert actions through it.
//
// Main thread only.

#include <memory>
#include <string>
#include <vector>

#include "core/Source/UserMessages/BTNotification.h"
#include "platform/desktop/UserNotification.h"

class BTNotificationService {
 public:
  virtual ~BTNotificationService() = default;

  // Shows the notification at once.
  virtual void deliverNotification(const std::shared_ptr<BTNotification>& notification) = 0;
  // Shows it at its delivery date.
  virtual void scheduleNotification(const std::shared_ptr<BTNotification>& notification) = 0;
  virtual void removeScheduledNotification(const std::shared_ptr<BTNotification>& notification) = 0;
  // The scheduled platform notification with that identifier, or nullptr.
  virtual std::shared_ptr<tw::UserNotification> scheduledNotificationWithIdentifier(
      const std::string& identifier) const = 0;
  virtual std::vector<std::shared_ptr<tw::UserNotification>> deliveredNotifications() const = 0;
  virtual std::vector<std::shared_ptr<tw::UserNotification>> schedulesNotifications() const = 0;
};
