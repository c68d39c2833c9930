#pragma once
// BTMasterDetailsBundleSettingsImpl: the "MasterDetailsBundle" settings bundle, stored in the user
// defaults under that key. Defaults: viewMode 1, alarmSelectionIndex 0x7FFFFFFFFFFFFFFF,
// timerSelectionIndex 0x7FFFFFFFFFFFFFFF, stopwatchSelectionIndex 0x7FFFFFFFFFFFFFFF,
// actionsListViewCollapsed NO. Owned by the settings provider; create with std::make_shared. Main
// thread only.

#include <cstdint>
#include <string>

#include "core/Source/Settings/BTBaseSettingsContainer.h"
#include "core/Source/Settings/BTMasterDetailBundleSettings.h"
#include "core/Source/Settings/BTSettingKeys.h"

class BTMasterDetailsBundleSettingsImpl : public BTBaseSettingsContainer,
                                          public BTMasterDetailBundleSettings {
 public:
  static constexpr const char* kContainerKey = "MasterDetailsBundle";

  BTMasterDetailsBundleSettingsImpl();

  std::string containerKey() const override { return kContainerKey; }
  tw::Dictionary defaultValues() const override;

  std::int64_t viewMode() const override { return integerSetting(tw::settingkeys::kViewMode); }
  void setViewMode(std::int64_t value) override {
    setIntegerSetting(tw::settingkeys::kViewMode, value);
  }
  std::int64_t alarmSelectionIndex() const override {
    return integerSetting(tw::settingkeys::kAlarmSelectionIndex);
  }
  void setAlarmSelectionIndex(std::int64_t value) override {
    setIntegerSetting(tw::settingkeys::kAlarmSelectionIndex, value);
  }
  std::int64_t timerSelectionIndex() const override {
    return integerSetting(tw::settingkeys::kTimerSelectionIndex);
  }
  void setTimerSelectionIndex(std::int64_t value) override {
    setIntegerSetting(tw::settingkeys::kTimerSelectionIndex, value);
  }
  std::int64_t stopwatchSelectionIndex() const override {
    return integerSetting(tw::settingkeys::kStopwatchSelectionIndex);
  }
  void setStopwatchSelectionIndex(std::int64_t value) override {
    setIntegerSetting(tw::settingkeys::kStopwatchSelectionIndex, value);
  }
  bool actionsListViewCollapsed() const override {
    return boolSetting(tw::settingkeys::kActionsListViewCollapsed);
  }
  void setActionsListViewCollapsed(bool value) override {
    setBoolSetting(tw::settingkeys::kActionsListViewCollapsed, value);
  }
};
