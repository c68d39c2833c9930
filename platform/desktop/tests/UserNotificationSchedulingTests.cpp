// Scheduled delivery of user notifications, driven by the virtual clock.

#include <gtest/gtest.h>

#include <vector>

#include "platform/desktop/UserNotificationCenter.h"
#include "platform/foundation/Clock.h"

namespace tw {
namespace {

class RecordingCenter : public UserNotificationCenter {
 public:
  void deliverNotification(const UserNotification& n) override { delivered.push_back(n); }
  std::vector<UserNotification> delivered;
};

UserNotification at(double secondsFromNow, std::optional<std::string> identifier,
                    std::string title = "Tea") {
  UserNotification n;
  n.title = std::move(title);
  n.identifier = std::move(identifier);
  n.deliveryDate = Date{clock::wallNow() + secondsFromNow};
  return n;
}

TEST(UserNotificationScheduling, DeliveredAtItsDateAndNotBefore) {
  VirtualClock clock;
  RecordingCenter center;
  center.scheduleNotification(at(60, "a"));
  UserNotification undated;
  undated.title = "now";
  center.scheduleNotification(undated);
  center.scheduleNotification(at(-5, "late"));

  RunLoop::main().drain();
  ASSERT_EQ(center.delivered.size(), 2u);  // no date and a past date: at once
  EXPECT_EQ(center.delivered[0].title, "now");
  EXPECT_EQ(center.delivered[1].identifier, "late");
  EXPECT_EQ(center.scheduledNotifications().size(), 1u);

  clock.advance(59);
  RunLoop::main().drain();
  EXPECT_EQ(center.delivered.size(), 2u);
  clock.advance(1);
  RunLoop::main().drain();
  ASSERT_EQ(center.delivered.size(), 3u);
  EXPECT_EQ(center.delivered[2].identifier, "a");
  EXPECT_TRUE(center.scheduledNotifications().empty());
}

TEST(UserNotificationScheduling, RemovalMatchesByIdentifierElseByEqualContent) {
  VirtualClock clock;
  RecordingCenter center;
  center.scheduleNotification(at(10, "a", "first"));
  center.scheduleNotification(at(20, "b"));
  const UserNotification anonymous = at(30, std::nullopt, "anonymous");
  center.scheduleNotification(anonymous);
  center.scheduleNotification(at(30, std::nullopt, "other"));

  // Another notification with the same identifier removes it, whatever its content.
  center.removeScheduledNotification(at(99, "a", "changed"));
  // Without an identifier only an equal one matches.
  center.removeScheduledNotification(anonymous);
  ASSERT_EQ(center.scheduledNotifications().size(), 2u);

  clock.advance(60);
  RunLoop::main().drain();
  ASSERT_EQ(center.delivered.size(), 2u);
  EXPECT_EQ(center.delivered[0].identifier, "b");
  EXPECT_EQ(center.delivered[1].title, "other");
}

TEST(UserNotificationScheduling, DestroyedCentreDeliversNothingLater) {
  VirtualClock clock;
  auto center = std::make_unique<RecordingCenter>();
  center->scheduleNotification(at(10, "a"));
  center.reset();
  clock.advance(20);
  EXPECT_EQ(RunLoop::main().drain(), 0u);
}

}  // namespace
}  // namespace tw
