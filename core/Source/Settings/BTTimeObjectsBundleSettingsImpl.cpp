#include "core/Source/Settings/BTTimeObjectsBundleSettingsImpl.h"
#include "core/Source/Settings/BTSettingKeys.h"

BTTimeObjectsBundleSettingsImpl::BTTimeObjectsBundleSettingsImpl()
    : BTBaseSettingsContainer({{tw::settingkeys::kWarnIfActiveOnQuit, SettingType::Bool},
                               {tw::settingkeys::kPromptBeforeDelete, SettingType::Bool},
                               {tw::settingkeys::kStopwatchAccuracy, SettingType::Int64}}) {}

tw::Dictionary BTTimeObjectsBundleSettingsImpl::defaultValues() const {
  return {{tw::settingkeys::kWarnIfActiveOnQuit, tw::Value(true)},
          {tw::settingkeys::kPromptBeforeDelete, tw::Value(true)},
          {tw::settingkeys::kStopwatchAccuracy, tw::Value(std::int64_t{0})}};
}
