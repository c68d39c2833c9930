#pragma once
// The notification centre: named announcements with a sender object and optional user info.
// Thread-safe. Observers are blocks, registered by name (or all names) and by sender (or any
// sender), optionally with a queue on which they run; without a queue they run synchronously on
// the posting thread. An observer with a queue runs inline when the post comes from that queue
// (so a main-queue observer posted to on the main thread runs before post() returns) and is
// queued otherwise. Observers run in the order they were added. An observer may remove itself
// (or others) during delivery; a queued delivery whose observer was removed before it ran is
// dropped.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Value.h"

namespace tw {

class Object;

struct Notification {
  std::string name;
  std::shared_ptr<Object> object;      // the sender, may be null
  std::optional<Dictionary> userInfo;  // absent and empty stay distinct
};

using NotificationBlock = std::function<void(const Notification&)>;

class NotificationCenter;

// Removing the token ends the observation; dropping it does NOT (an observation lives until
// removed, so a caller that keeps no token still hears), unless it was made with scoped().
class NotificationToken {
 public:
  NotificationToken() = default;
  void remove() const;
  bool isActive() const;
  explicit operator bool() const { return static_cast<bool>(entry_); }

 private:
  friend class NotificationCenter;
  std::shared_ptr<struct NotificationEntry> entry_;
  std::weak_ptr<NotificationCenter> center_;
};

// RAII form: removes its observation when destroyed.
class ScopedNotificationToken {
 public:
  ScopedNotificationToken() = default;
  ScopedNotificationToken(NotificationToken t) : token_(std::move(t)) {}
  ScopedNotificationToken(ScopedNotificationToken&&) = default;
  ScopedNotificationToken& operator=(ScopedNotificationToken&& o) noexcept {
    if (this != &o) {
      token_.remove();
      token_ = std::move(o.token_);
      o.token_ = {};
    }
    return *this;
  }
  ~ScopedNotificationToken() { token_.remove(); }
  const NotificationToken& token() const { return token_; }

 private:
  NotificationToken token_;
};

class NotificationCenter : public std::enable_shared_from_this<NotificationCenter> {
 public:
  static std::shared_ptr<NotificationCenter> defaultCenter();
  static std::shared_ptr<NotificationCenter> create();
  ~NotificationCenter();

  // name empty = every name; sender null = any sender. The sender is held weakly: an observation
  // filtered on a sender that went away no longer fires. `observerLifetime`, when given, ends
  // the observation when that object goes away.
  NotificationToken addObserver(std::string name, const std::shared_ptr<Object>& sender,
                                std::shared_ptr<DispatchQueue> queue, NotificationBlock block,
                                std::weak_ptr<const void> observerLifetime = {});
  void removeObserver(const NotificationToken& token);
  // Selector-style removal: ends every observation registered with `observer` as its
  // observerLifetime, only those for `name` when a name is given and only those filtered on
  // `sender` when a sender is given.
  void removeObserver(const std::shared_ptr<const void>& observer, std::string_view name = {},
                      const Object* sender = nullptr);

  void post(const Notification& notification);
  void post(std::string name, std::shared_ptr<Object> sender = nullptr,
            std::optional<Dictionary> userInfo = std::nullopt);

  std::size_t observerCount() const;

 private:
  NotificationCenter();
  struct Impl;
  std::unique_ptr<Impl> impl_;
  friend class NotificationToken;
};

}  // namespace tw
