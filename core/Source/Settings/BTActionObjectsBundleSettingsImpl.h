#pragma once
// BTActionObjectsBundleSettingsImpl: the "ActionObjectsBundle" settings bundle, stored in the user
// defaults under that key. Defaults: promptBeforeDelete YES. Owned by the settings provider; create
// with std::make_shared. Main thread only.

#include <cstdint>
#include <string>

#include "core/Source/Settings/BTActionObjectsBundleSettings.h"
#include "core/Source/Settings/BTBaseSettingsContainer.h"
#include "core/Source/Settings/BTSettingKeys.h"

class BTActionObjectsBundleSettingsImpl : public BTBaseSettingsContainer,
                                          public BTActionObjectsBundleSettings {
 public:
  static constexpr const char* kContainerKey = "ActionObjectsBundle";

  BTActionObjectsBundleSettingsImpl();

  std::string containerKey() const override { return kContainerKey; }
  tw::Dictionary defaultValues() const override;

  bool promptBeforeDelete() const override {
    return boolSetting(tw::settingkeys::kPromptBeforeDelete);
  }
  void setPromptBeforeDelete(bool value) override {
    setBoolSetting(tw::settingkeys::kPromptBeforeDelete, value);
  }
};
