#include "core/Source/Settings/BTGeneralBundleSettingsImpl.h"
#include "core/Source/Settings/BTSettingKeys.h"

BTGeneralBundleSettingsImpl::BTGeneralBundleSettingsImpl()
    : BTBaseSettingsContainer({{tw::settingkeys::kPreventSystemSleep, SettingType::Bool},
                               {tw::settingkeys::kPreventDisplaySleep, SettingType::Bool},
                               {tw::settingkeys::kAnimationsDisabled, SettingType::Bool},
                               {tw::settingkeys::kUseMilitaryTime, SettingType::Bool}}) {}

tw::Dictionary BTGeneralBundleSettingsImpl::defaultValues() const {
  return {{tw::settingkeys::kPreventSystemSleep, tw::Value(true)},
          {tw::settingkeys::kPreventDisplaySleep, tw::Value(false)},
          {tw::settingkeys::kAnimationsDisabled, tw::Value(false)},
          {tw::settingkeys::kUseMilitaryTime, tw::Value(false)}};
}
