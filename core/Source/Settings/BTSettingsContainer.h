#pragma once
// BTSettingsContainer: what every settings bundle offers: its user-defaults key, its defaults,
// filling in and restoring those defaults, its stored form, and announcing changed settings
// (BTSettingsChangedNotification). Implemented by BTBaseSettingsContainer and the four bundles.
// Main thread only.

#include <string>
#include <vector>

#include "platform/foundation/Value.h"

class BTSettingsContainer {
 public:
  virtual ~BTSettingsContainer() = default;

  // The user-defaults key the bundle is stored under.
  virtual std::string containerKey() const = 0;
  // Setting name -> default value.
  virtual tw::Dictionary defaultValues() const = 0;
  // Gives the default to every setting the bundle was not loaded with.
  virtual void registerDefaults() = 0;
  // Gives every setting its default.
  virtual void restoreDefaults() = 0;
  // Announces a change without naming settings (the notification has no user info).
  virtual void notifySettingsChanged() = 0;
  // Announces a change of the named settings (an empty list is still a list). A name that is not
  // a setting of the bundle raises NSInvalidArgumentException and nothing is posted.
  virtual void notifySettingsChangedWithKeys(const std::vector<std::string>& keys) = 0;
  // The stored form: every setting name mapped to its value.
  virtual tw::Dictionary dictionaryValue() const = 0;
};
