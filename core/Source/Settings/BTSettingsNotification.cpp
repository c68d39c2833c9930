#include "core/Source/Settings/BTSettingsNotification.h"

#include <algorithm>

std::optional<tw::Array> bt_changedSettingKeys(const tw::Notification& notification) {
  if (!notification.userInfo) return std::nullopt;
  auto it = notification.userInfo->find(BTSettingKeysUserInfoKey);
  if (it == notification.userInfo->end() || !it->second.array()) return std::nullopt;
  return *it->second.array();
}

bool bt_settingKeyChanged(const tw::Notification& notification, std::string_view key) {
  auto keys = bt_changedSettingKeys(notification);
  if (!keys) return false;
  return std::any_of(keys->begin(), keys->end(), [&](const tw::Value& v) {
    const std::string* s = v.string();
    return s && *s == key;
  });
}
