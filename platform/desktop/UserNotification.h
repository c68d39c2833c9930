#pragma once
// tw::UserNotification: one notification as the desktop shows it: title, subtitle, informative
// text, delivery date, sound name, identifier and user info, each possibly absent. A plain value,
// copied freely between threads (the user info's objects, if any, keep their own thread rules).
// Owned by platform/desktop; delivered through a tw::UserNotificationCenter.

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

// The sound the desktop plays for a notification that asks for the default one: a name from the
// freedesktop sound-naming scheme, so any sound theme knows it.
inline constexpr const char* NSUserNotificationDefaultSoundName = "message-new-instant";

namespace tw {

struct UserNotification {
  std::optional<std::string> title;
  std::optional<std::string> subtitle;
  std::optional<std::string> informativeText;
  // When a scheduled notification is due; immediate delivery ignores it.
  std::optional<Date> deliveryDate;
  // nullopt: no sound at all.
  std::optional<std::string> soundName;
  // Notifications with the same identifier replace one another on screen; one without an
  // identifier never replaces anything and is never replaced.
  std::optional<std::string> identifier;
  std::optional<Dictionary> userInfo;

  friend bool operator==(const UserNotification&, const UserNotification&) = default;
};

}  // namespace tw
