#include "core/Source/Settings/BTGeneralBundleSettingsImpl.h"

BTGeneralBundleSettingsImpl::BTGeneralBundleSettingsImpl()
    : BTBaseSettingsContainer({{"preventSystemSleep", SettingType::Bool},
                               {"preventDisplaySleep", SettingType::Bool},
                               {"animationsDisabled", SettingType::Bool},
                               {"useMilitaryTime", SettingType::Bool}}) {}

tw::Dictionary BTGeneralBundleSettingsImpl::defaultValues() const {
  return {{"preventSystemSleep", tw::Value(true)},
          {"preventDisplaySleep", tw::Value(false)},
          {"animationsDisabled", tw::Value(false)},
          {"useMilitaryTime", tw::Value(false)}};
}
