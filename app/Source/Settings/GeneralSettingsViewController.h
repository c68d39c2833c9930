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
#include "app/Source/Settings/ToolbarItemProvider.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "platform/inject/Injectable.h"
#include "platform/ui/ViewController.h"

class GeneralSettingsViewController : public tw::ui::ViewController,
                                      public ToolbarItemProvider,
                                      public tw::Injectable {
 public:
  GeneralSettingsViewController() = default;

  std::string toolbarItemTitle() const override;
  QIcon toolbarItemImage() const override;

  std::shared_ptr<BTSettingsProvider> settingsProvider() const { return settingsProvider_.lock(); }
  void setSettingsProvider(std::weak_ptr<BTSettingsProvider> provider) {
    settingsProvider_ = std::move(provider);
  }
  void injectProperties(tw::PropertyInjector& injector) override;

  std::shared_ptr<tw::SettingsCheckBox> preventSystemSleepButton() const { return systemSleep_; }
  std::shared_ptr<tw::SettingsCheckBox> preventDisplaySleepButton() const { return displaySleep_; }
  std::shared_ptr<tw::SettingsCheckBox> warnIfActiveOnQuitButton() const { return warnOnQuit_; }
  std::shared_ptr<tw::SettingsCheckBox> warnTimeObjectDeleteButton() const {
    return warnTimeDelete_;
  }
  std::shared_ptr<tw::SettingsCheckBox> warnActionObjectDeleteButton() const {
    return warnActionDelete_;
  }

  void createBindings();
  void updatePreventDisplaySleepUi(bool enabled);

 protected:
  void loadView() override;
  void viewDidLoad() override;

 private:
  std::weak_ptr<BTSettingsProvider> settingsProvider_;
  std::shared_ptr<tw::SettingsCheckBox> systemSleep_, displaySleep_, warnOnQuit_, warnTimeDelete_,
      warnActionDelete_;
};
