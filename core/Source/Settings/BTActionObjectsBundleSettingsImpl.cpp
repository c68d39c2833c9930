#include "core/Source/Settings/BTActionObjectsBundleSettingsImpl.h"
#include "core/Source/Settings/BTSettingKeys.h"

BTActionObjectsBundleSettingsImpl::BTActionObjectsBundleSettingsImpl()
    : BTBaseSettingsContainer({{tw::settingkeys::kPromptBeforeDelete, SettingType::Bool}}) {}

tw::Dictionary BTActionObjectsBundleSettingsImpl::defaultValues() const {
  return {{tw::settingkeys::kPromptBeforeDelete, tw::Value(true)}};
}
