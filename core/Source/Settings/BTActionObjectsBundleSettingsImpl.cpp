#include "core/Source/Settings/BTActionObjectsBundleSettingsImpl.h"

BTActionObjectsBundleSettingsImpl::BTActionObjectsBundleSettingsImpl()
    : BTBaseSettingsContainer({{"promptBeforeDelete", SettingType::Bool}}) {}

tw::Dictionary BTActionObjectsBundleSettingsImpl::defaultValues() const {
  return {{"promptBeforeDelete", tw::Value(true)}};
}
