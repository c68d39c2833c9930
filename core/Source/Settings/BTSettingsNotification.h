#pragma once
// The change announcement of the settings bundles, and how observers read it. Posted on the
// default notification centre by the bundle that changed (BTBaseSettingsContainer), with the
// changed setting names under BTSettingKeysUserInfoKey or, for an unspecified change, no user
// info at all. Plain functions: any thread.

#include <optional>
#include <string_view>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"

inline constexpr const char* BTSettingsChangedNotification = "BTSettingsChangedNotification";
inline constexpr const char* BTSettingKeysUserInfoKey = "BTSettingKeysUserInfoKey";

// A copy of the changed names when the notification carries an array of them, else nullopt.
std::optional<tw::Array> bt_changedSettingKeys(const tw::Notification& notification);
// Whether the notification names `key` as changed (false when it names nothing).
bool bt_settingKeyChanged(const tw::Notification& notification, std::string_view key);
