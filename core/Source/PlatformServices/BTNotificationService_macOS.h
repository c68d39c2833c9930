#pragma once
// BTNotificationService_macOS: the notification service over the desktop's user-notification
// centre (tw::UserNotificationCenter; by default the process-wide one, looked up on every call,
// so whatever centre is installed at the time is used). Each call turns the BTNotification into a
// new platform notification field by field: title, subtitle, message (as informative text),
// delivery date, sound name, identifier, user info.
//
// The delivered and scheduled lists are exposed but never filled (nothing here records what it
// hands on), so scheduledNotificationWithIdentifier always answers nullptr.
//
// One shared component of the assembly; main thread only.

#include <memory>
#include <string>
#include <vector>

#include "core/Source/PlatformServices/BTNotificationService.h"
#include "platform/desktop/UserNotificationCenter.h"
#include "platform/foundation/Object.h"

class BTNotificationService_macOS : public tw::Object, public BTNotificationService {
 public:
  // Uses the default user-notification centre.
  BTNotificationService_macOS() = default;
  // Uses `center` instead (tests).
  explicit BTNotificationService_macOS(std::shared_ptr<tw::UserNotificationCenter> center);

  void deliverNotification(const std::shared_ptr<BTNotification>& notification) override;
  void scheduleNotification(const std::shared_ptr<BTNotification>& notification) override;
  void removeScheduledNotification(const std::shared_ptr<BTNotification>& notification) override;
  std::shared_ptr<tw::UserNotification> scheduledNotificationWithIdentifier(
      const std::string& identifier) const override;
  std::vector<std::shared_ptr<tw::UserNotification>> deliveredNotifications() const override;
  std::vector<std::shared_ptr<tw::UserNotification>> schedulesNotifications() const override;

  // The platform notification for `notification` (a null one gives an empty notification).
  static tw::UserNotification platformNotification(const BTNotification* notification);

 private:
  std::shared_ptr<tw::UserNotificationCenter> center() const;

  std::shared_ptr<tw::UserNotificationCenter> center_;
  std::vector<std::shared_ptr<tw::UserNotification>> delivered_;
  std::vector<std::shared_ptr<tw::UserNotification>> scheduled_;
};
