#pragma once
// MVXSettings (interim, beta accessors only): the crash kit's read-only view of the downloaded
// kit settings and its "Morvex" configuration. Replaced by the full class of the report store.
//
// Immutable; any thread.

#include <string>

#include "platform/foundation/Value.h"

class MVXSettings {
 public:
  explicit MVXSettings(tw::Value settingsDictionary) : settings_(std::move(settingsDictionary)) {}
  const tw::Value& settingsDictionary() const { return settings_; }
  std::string betaEndpoint() const;
  double betaSuspendDuration() const;

 private:
  tw::Value settings_;
};
