#include "core/Source/Settings/BTTimeObjectsBundleSettingsImpl.h"

BTTimeObjectsBundleSettingsImpl::BTTimeObjectsBundleSettingsImpl()
    : BTBaseSettingsContainer({{"warnIfActiveOnQuit", SettingType::Bool},
                               {"promptBeforeDelete", SettingType::Bool},
                               {"stopwatchAccuracy", SettingType::Int64}}) {}

tw::Dictionary BTTimeObjectsBundleSettingsImpl::defaultValues() const {
  return {{"warnIfActiveOnQuit", tw::Value(true)},
          {"promptBeforeDelete", tw::Value(true)},
          {"stopwatchAccuracy", tw::Value(std::int64_t{0})}};
}
