#pragma once
// BTGeneralBundleSettingsImpl: the "GeneralBundle" settings bundle, stored in the user defaults
// under that key. Defaults: preventSystemSleep YES, preventDisplaySleep NO, animationsDisabled NO,
// useMilitaryTime NO. Owned by the settings provider; create with std::make_shared. Main thread
// only.

#include <cstdint>
#include <string>

#include "core/Source/Settings/BTBaseSettingsContainer.h"
#include "core/Source/Settings/BTGeneralBundleSettings.h"

class BTGeneralBundleSettingsImpl : public BTBaseSettingsContainer, public BTGeneralBundleSettings {
 public:
  static constexpr const char* kContainerKey = "GeneralBundle";

  BTGeneralBundleSettingsImpl();

  std::string containerKey() const override { return kContainerKey; }
  tw::Dictionary defaultValues() const override;

  bool preventSystemSleep() const override { return boolSetting("preventSystemSleep"); }
  void setPreventSystemSleep(bool value) override { setBoolSetting("preventSystemSleep", value); }
  bool preventDisplaySleep() const override { return boolSetting("preventDisplaySleep"); }
  void setPreventDisplaySleep(bool value) override { setBoolSetting("preventDisplaySleep", value); }
  bool animationsDisabled() const override { return boolSetting("animationsDisabled"); }
  void setAnimationsDisabled(bool value) override { setBoolSetting("animationsDisabled", value); }
  bool useMilitaryTime() const override { return boolSetting("useMilitaryTime"); }
  void setUseMilitaryTime(bool value) override { setBoolSetting("useMilitaryTime", value); }
};
