#pragma once
// GeneralSettingsViewController: the General pane of the settings window. Five check boxes, each
// bound both ways to one setting: keeping the machine and the display awake while time objects
// run (general bundle), the quit and delete prompts (time-objects and action-objects bundles).
// Every change the user makes is announced, on the main queue after it has been stored, so the
// settings are saved and sleep prevention follows. Display-sleep prevention is only possible
// while system-sleep prevention is on: turning the latter off turns the former off and greys
// out its box.
//
// Made by the application delegate, owned by the settings window's tab view controller.
// Main thread only.

#include <memory>

#include "app/Source/Settings/SettingsCheckBox.h"
#include "app/Source/Settings/SettingsPaneViewController.h"

class GeneralSettingsViewController : public SettingsPaneViewController {
 public:
  GeneralSettingsViewController() : SettingsPaneViewController("General", "IconSettingsGeneral") {}

  std::shared_ptr<tw::SettingsCheckBox> preventSystemSleepButton() const { return systemSleep_; }
  std::shared_ptr<tw::SettingsCheckBox> preventDisplaySleepButton() const { return displaySleep_; }
  std::shared_ptr<tw::SettingsCheckBox> warnIfActiveOnQuitButton() const { return warnOnQuit_; }
  std::shared_ptr<tw::SettingsCheckBox> warnTimeObjectDeleteButton() const {
    return warnTimeDelete_;
  }
  std::shared_ptr<tw::SettingsCheckBox> warnActionObjectDeleteButton() const {
    return warnActionDelete_;
  }

  void createBindings() override;
  void updatePreventDisplaySleepUi(bool enabled);

 protected:
  void loadView() override;

 private:
  std::shared_ptr<tw::SettingsCheckBox> systemSleep_, displaySleep_, warnOnQuit_, warnTimeDelete_,
      warnActionDelete_;
};
