#pragma once
// AppearanceSettingsViewController: the Appearance pane of the settings window: whether the
// master list animates, the 24-hour clock (general bundle), each bound both ways to its check
// box, and the stopwatch accuracy (time-objects bundle) chosen in a pop-up of two items,
// "Deciseconds (0.0)" (tag 0) and "Centiseconds (0.00)" (tag 1). Every change the user makes is
// announced at once. A stored accuracy the pop-up does not offer (2, milliseconds) is replaced
// by the shown item's tag when the pane loads.
//
// Made by the application delegate, owned by the settings window's tab view controller.
// Main thread only.

#include <QComboBox>
#include <QPointer>
#include <memory>

#include "app/Source/Settings/SettingsCheckBox.h"
#include "app/Source/Settings/SettingsPaneViewController.h"

class AppearanceSettingsViewController : public SettingsPaneViewController {
 public:
  AppearanceSettingsViewController()
      : SettingsPaneViewController("Appearance", "IconSettingsAppearance") {}

  std::shared_ptr<tw::SettingsCheckBox> disableAnimationsButton() const { return animations_; }
  std::shared_ptr<tw::SettingsCheckBox> useMilitaryTimeButton() const { return militaryTime_; }
  QComboBox* stopwatchAccuracySelectButton() const { return accuracy_; }

  void createBindings() override;
  void setStopwatchAccuracySelectionMenu();
  // The pop-up's action; `sender` is the pop-up, or null when the pane calls it.
  void onStopwatchAccuracySelectionChange(QObject* sender);

 protected:
  void loadView() override;

 private:
  std::shared_ptr<tw::SettingsCheckBox> animations_, militaryTime_;
  QPointer<QComboBox> accuracy_;
};
