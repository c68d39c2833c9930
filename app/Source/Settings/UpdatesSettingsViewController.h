#pragma once
// UpdatesSettingsViewController: the Updates pane of the settings window: the updater's
// automatic-check switch, bound both ways to its check box (not announced: it is the updater's
// own setting), the time of the last check ("Last Check: Today at 9:41 AM", "... Never") and a
// button that checks now. The label is refreshed when the pane loads and right after each
// check-now, not when a check completes later.
//
// Made by the application delegate, owned by the settings window's tab view controller.
// Main thread only.

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <memory>
#include <optional>

#include "app/Source/Settings/SettingsCheckBox.h"
#include "app/Source/Settings/ToolbarItemProvider.h"
#include "platform/ui/ViewController.h"

class DM_SUUpdater;

class UpdatesSettingsViewController : public tw::ui::ViewController, public ToolbarItemProvider {
 public:
  // The shared updater unless another is given (tests).
  explicit UpdatesSettingsViewController(std::shared_ptr<DM_SUUpdater> updater = nullptr);

  std::string toolbarItemTitle() const override;
  QIcon toolbarItemImage() const override;

  std::shared_ptr<tw::SettingsCheckBox> autoCheckForUpdatesButton() const { return autoCheck_; }
  QLabel* lastUpdateCheckLabel() const { return lastCheck_; }
  QPushButton* checkNowButton() const { return checkNow_; }

  void createBindings();
  void refreshLastUpdateCheckUi();
  // The check-now button's action.
  void checkForUpdates(QObject* sender);

  // The inner text of the label for a last check at `date` (none: "Never").
  static std::string lastCheckText(const std::optional<tw::Date>& date);

 protected:
  void loadView() override;
  void viewDidLoad() override;

 private:
  std::shared_ptr<DM_SUUpdater> updater() const;

  std::shared_ptr<DM_SUUpdater> updater_;
  std::shared_ptr<tw::SettingsCheckBox> autoCheck_;
  QPointer<QLabel> lastCheck_;
  QPointer<QPushButton> checkNow_;
};
