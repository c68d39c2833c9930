#include "platform/desktop/UserNotificationCenter.h"

#include <algorithm>

#include "platform/desktop/FreedesktopNotificationCenter.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"

namespace tw {

namespace {
std::mutex& defaultMutex() {
  static std::mutex m;
  return m;
}
// Never destroyed: the default centre may still be delivering while static destructors run.
std::shared_ptr<UserNotificationCenter>& defaultSlot() {
  static auto* slot = new std::shared_ptr<UserNotificationCenter>();
  return *slot;
}
}  // namespace

UserNotificationCenter::~UserNotificationCenter() {
  std::lock_guard lock(mutex_);
  for (auto& s : scheduled_) s.work.cancel();
}

std::shared_ptr<UserNotificationCenter> UserNotificationCenter::defaultUserNotificationCenter() {
  std::lock_guard lock(defaultMutex());
  auto& slot = defaultSlot();
  if (!slot) slot = std::make_shared<FreedesktopNotificationCenter>();
  return slot;
}

void UserNotificationCenter::setDefaultUserNotificationCenter(
    std::shared_ptr<UserNotificationCenter> center) {
  std::shared_ptr<UserNotificationCenter> previous;
  {
    std::lock_guard lock(defaultMutex());
    previous = std::exchange(defaultSlot(), std::move(center));
  }
  // `previous` goes outside the lock: a centre's destructor may wait for its own thread.
}

void UserNotificationCenter::scheduleNotification(const UserNotification& notification) {
  double delay = 0;
  if (notification.deliveryDate)
    delay = notification.deliveryDate->secondsSince1970 - clock::wallNow();
  std::lock_guard lock(mutex_);
  const std::uint64_t serial = ++nextSerial_;
  // The work is cancelled before this centre goes, so `this` is valid whenever it runs.
  DelayedWork work = DispatchQueue::main()->after(delay, [this, serial] { scheduledDue(serial); });
  scheduled_.push_back(Scheduled{serial, notification, std::move(work)});
}

void UserNotificationCenter::scheduledDue(std::uint64_t serial) {
  std::optional<UserNotification> due;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(scheduled_.begin(), scheduled_.end(),
                           [&](const Scheduled& s) { return s.serial == serial; });
    if (it == scheduled_.end()) return;
    due = std::move(it->notification);
    scheduled_.erase(it);
  }
  deliverNotification(*due);
}

void UserNotificationCenter::removeScheduledNotification(const UserNotification& notification) {
  std::lock_guard lock(mutex_);
  auto matches = [&](const Scheduled& s) {
    if (notification.identifier) return s.notification.identifier == notification.identifier;
    return s.notification == notification;
  };
  for (auto& s : scheduled_)
    if (matches(s)) s.work.cancel();
  std::erase_if(scheduled_, matches);
}

std::vector<UserNotification> UserNotificationCenter::scheduledNotifications() const {
  std::lock_guard lock(mutex_);
  std::vector<UserNotification> out;
  out.reserve(scheduled_.size());
  for (const auto& s : scheduled_) out.push_back(s.notification);
  return out;
}

void UserNotificationCenter::postActivation(const std::optional<std::string>& identifier,
                                            const std::optional<Dictionary>& userInfo) {
  Dictionary info;
  if (identifier) info[UserNotificationIdentifierKey] = *identifier;
  if (userInfo) info[UserNotificationUserInfoKey] = *userInfo;
  onMain([info = std::move(info)] {
    NotificationCenter::defaultCenter()->post(UserNotificationActivatedNotification, nullptr, info);
  });
}

}  // namespace tw
