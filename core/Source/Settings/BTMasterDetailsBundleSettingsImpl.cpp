#include "core/Source/Settings/BTMasterDetailsBundleSettingsImpl.h"

#include "core/Source/Library/BTArrayOperations.h"
#include "core/Source/Settings/BTSettingKeys.h"

BTMasterDetailsBundleSettingsImpl::BTMasterDetailsBundleSettingsImpl()
    : BTBaseSettingsContainer({{tw::settingkeys::kViewMode, SettingType::Int64},
                               {tw::settingkeys::kAlarmSelectionIndex, SettingType::Int64},
                               {tw::settingkeys::kTimerSelectionIndex, SettingType::Int64},
                               {tw::settingkeys::kStopwatchSelectionIndex, SettingType::Int64},
                               {tw::settingkeys::kActionsListViewCollapsed, SettingType::Bool}}) {}

tw::Dictionary BTMasterDetailsBundleSettingsImpl::defaultValues() const {
  return {{tw::settingkeys::kViewMode, tw::Value(std::int64_t{1})},
          {tw::settingkeys::kAlarmSelectionIndex, tw::Value(std::int64_t{BTNotFound})},
          {tw::settingkeys::kTimerSelectionIndex, tw::Value(std::int64_t{BTNotFound})},
          {tw::settingkeys::kStopwatchSelectionIndex, tw::Value(std::int64_t{BTNotFound})},
          {tw::settingkeys::kActionsListViewCollapsed, tw::Value(false)}};
}
