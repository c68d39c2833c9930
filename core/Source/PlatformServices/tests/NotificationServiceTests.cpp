// The notification service hands BTNotifications to the desktop's notification centre.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/Source/PlatformServices/BTNotificationService_macOS.h"
#include "platform/foundation/Clock.h"

namespace {

class RecordingCenter : public tw::UserNotificationCenter {
 public:
  void deliverNotification(const tw::UserNotification& n) override { delivered.push_back(n); }
  std::vector<tw::UserNotification> delivered;
};

std::shared_ptr<BTNotification> fullNotification() {
  auto n = std::make_shared<BTNotification>();
  n->setTitle("Tea");
  n->setSubtitle("this timer has finished");
  n->setMessage("Drink it");
  n->setIdentifier("5F0C2A1E-uuid");
  n->setDeliveryDate(tw::Date{tw::clock::wallNow() + 30});
  n->setSoundName(std::string(NSUserNotificationDefaultSoundName));
  n->setUserInfo(tw::Dictionary{{"key", tw::Value(1)}});
  return n;
}

TEST(NotificationService, DeliveryCopiesEveryFieldIntoAPlatformNotification) {
  auto center = std::make_shared<RecordingCenter>();
  auto service = std::make_shared<BTNotificationService_macOS>(center);
  auto n = fullNotification();

  service->deliverNotification(n);
  ASSERT_EQ(center->delivered.size(), 1u);
  const auto& p = center->delivered[0];
  EXPECT_EQ(p.title, "Tea");
  EXPECT_EQ(p.subtitle, "this timer has finished");
  EXPECT_EQ(p.informativeText, "Drink it");
  EXPECT_EQ(p.identifier, "5F0C2A1E-uuid");
  EXPECT_EQ(p.deliveryDate, n->deliveryDate());
  EXPECT_EQ(p.soundName, std::string(NSUserNotificationDefaultSoundName));
  EXPECT_EQ(p.userInfo, n->userInfo());

  // A notification with nothing set (a tested action's has no identifier, a silent one no sound
  // name) stays empty: nothing is invented on the way.
  service->deliverNotification(std::make_shared<BTNotification>());
  service->deliverNotification(nullptr);
  ASSERT_EQ(center->delivered.size(), 3u);
  EXPECT_EQ(center->delivered[1], tw::UserNotification{});
  EXPECT_EQ(center->delivered[2], tw::UserNotification{});
}

TEST(NotificationService, SchedulingGoesThroughTheCentreButTheServiceListsStayEmpty) {
  tw::VirtualClock clock;
  auto center = std::make_shared<RecordingCenter>();
  auto service = std::make_shared<BTNotificationService_macOS>(center);
  auto kept = fullNotification();
  auto removed = fullNotification();
  removed->setIdentifier("other");

  service->scheduleNotification(kept);
  service->scheduleNotification(removed);
  service->removeScheduledNotification(removed);
  EXPECT_EQ(center->scheduledNotifications().size(), 1u);
  EXPECT_TRUE(service->schedulesNotifications().empty());
  EXPECT_TRUE(service->deliveredNotifications().empty());
  EXPECT_EQ(service->scheduledNotificationWithIdentifier("5F0C2A1E-uuid"), nullptr);

  clock.advance(30);
  tw::RunLoop::main().drain();
  ASSERT_EQ(center->delivered.size(), 1u);
  EXPECT_EQ(center->delivered[0].identifier, "5F0C2A1E-uuid");
  EXPECT_TRUE(service->deliveredNotifications().empty());
}

TEST(NotificationService, WithoutACentreOfItsOwnItUsesTheDefaultOneOfTheMoment) {
  auto first = std::make_shared<RecordingCenter>();
  auto second = std::make_shared<RecordingCenter>();
  auto service = std::make_shared<BTNotificationService_macOS>();
  tw::UserNotificationCenter::setDefaultUserNotificationCenter(first);
  service->deliverNotification(fullNotification());
  tw::UserNotificationCenter::setDefaultUserNotificationCenter(second);
  service->deliverNotification(fullNotification());
  tw::UserNotificationCenter::setDefaultUserNotificationCenter(nullptr);
  EXPECT_EQ(first->delivered.size(), 1u);
  EXPECT_EQ(second->delivered.size(), 1u);
}

}  // namespace
