#pragma once
// BTTimeObjectsBundleSettingsImpl: the "TimeObjectsBundle" settings bundle, stored in the user
// defaults under that key. Defaults: warnIfActiveOnQuit YES, promptBeforeDelete YES,
// stopwatchAccuracy 0. Owned by the settings provider; create with std::make_shared. Main thread
// only.

#include <cstdint>
#include <string>

#include "core/Source/Settings/BTBaseSettingsContainer.h"
#include "core/Source/Settings/BTSettingKeys.h"
#include "core/Source/Settings/BTTimeObjectsBundleSettings.h"

class BTTimeObjectsBundleSettingsImpl : public BTBaseSettingsContainer,
                                        public BTTimeObjectsBundleSettings {
 public:
  static constexpr const char* kContainerKey = "TimeObjectsBundle";

  BTTimeObjectsBundleSettingsImpl();

  std::string containerKey() const override { return kContainerKey; }
  tw::Dictionary defaultValues() const override;

  bool warnIfActiveOnQuit() const override {
    return boolSetting(tw::settingkeys::kWarnIfActiveOnQuit);
  }
  void setWarnIfActiveOnQuit(bool value) override {
    setBoolSetting(tw::settingkeys::kWarnIfActiveOnQuit, value);
  }
  bool promptBeforeDelete() const override {
    return boolSetting(tw::settingkeys::kPromptBeforeDelete);
  }
  void setPromptBeforeDelete(bool value) override {
    setBoolSetting(tw::settingkeys::kPromptBeforeDelete, value);
  }
  std::int64_t stopwatchAccuracy() const override {
    return integerSetting(tw::settingkeys::kStopwatchAccuracy);
  }
  void setStopwatchAccuracy(std::int64_t value) override {
    setIntegerSetting(tw::settingkeys::kStopwatchAccuracy, value);
  }
};
