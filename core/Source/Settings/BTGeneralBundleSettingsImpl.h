#pragma once
// BTGeneralBundleSettingsImpl: the "GeneralBundle" settings bundle, stored in the user defaults
// under that key. Defaults: preventSystemSleep YES, preventDisplaySleep NO, animationsDisabled NO,
// useMilitaryTime NO. Owned by the settings provider; create with std::make_shared. Main thread
// only.

#include <cstdint>
#include <string>

#include "core/Source/Settings/BTBaseSettingsContainer.h"
#include "core/Source/Settings/BTGeneralBundleSettings.h"
#include "core/Source/Settings/BTSettingKeys.h"

class BTGeneralBundleSettingsImpl : public BTBaseSettingsContainer, public BTGeneralBundleSettings {
 public:
  static constexpr const char* kContainerKey = "GeneralBundle";

  BTGeneralBundleSettingsImpl();

  std::string containerKey() const override { return kContainerKey; }
  tw::Dictionary defaultValues() const override;

  bool preventSystemSleep() const override {
    return boolSetting(tw::settingkeys::kPreventSystemSleep);
  }
  void setPreventSystemSleep(bool value) override {
    setBoolSetting(tw::settingkeys::kPreventSystemSleep, value);
  }
  bool preventDisplaySleep() const override {
    return boolSetting(tw::settingkeys::kPreventDisplaySleep);
  }
  void setPreventDisplaySleep(bool value) override {
    setBoolSetting(tw::settingkeys::kPreventDisplaySleep, value);
  }
  bool animationsDisabled() const override {
    return boolSetting(tw::settingkeys::kAnimationsDisabled);
  }
  void setAnimationsDisabled(bool value) override {
    setBoolSetting(tw::settingkeys::kAnimationsDisabled, value);
  }
  bool useMilitaryTime() const override { return boolSetting(tw::settingkeys::kUseMilitaryTime); }
  void setUseMilitaryTime(bool value) override {
    setBoolSetting(tw::settingkeys::kUseMilitaryTime, value);
  }
};
