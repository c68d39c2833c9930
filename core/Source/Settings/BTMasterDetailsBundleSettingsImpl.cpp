#include "core/Source/Settings/BTMasterDetailsBundleSettingsImpl.h"

#include "core/Source/Library/BTArrayOperations.h"

BTMasterDetailsBundleSettingsImpl::BTMasterDetailsBundleSettingsImpl()
    : BTBaseSettingsContainer({{"viewMode", SettingType::Int64},
                               {"alarmSelectionIndex", SettingType::Int64},
                               {"timerSelectionIndex", SettingType::Int64},
                               {"stopwatchSelectionIndex", SettingType::Int64},
                               {"actionsListViewCollapsed", SettingType::Bool}}) {}

tw::Dictionary BTMasterDetailsBundleSettingsImpl::defaultValues() const {
  return {{"viewMode", tw::Value(std::int64_t{1})},
          {"alarmSelectionIndex", tw::Value(std::int64_t{BTNotFound})},
          {"timerSelectionIndex", tw::Value(std::int64_t{BTNotFound})},
          {"stopwatchSelectionIndex", tw::Value(std::int64_t{BTNotFound})},
          {"actionsListViewCollapsed", tw::Value(false)}};
}
