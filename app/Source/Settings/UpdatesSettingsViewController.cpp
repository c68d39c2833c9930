#include "app/Source/Settings/UpdatesSettingsViewController.h"

#include "app/Source/Settings/SettingsBindings.h"
#include "app/Source/Settings/SettingsPaneLayout.h"
#include "core/Source/Library/BTDateUtility.h"
#include "platform/desktop/DM_SUUpdater.h"
#include "platform/foundation/Localization.h"
#include "platform/ui/NamedResources.h"

UpdatesSettingsViewController::UpdatesSettingsViewController(std::shared_ptr<DM_SUUpdater> updater)
    : updater_(std::move(updater)) {}

std::shared_ptr<DM_SUUpdater> UpdatesSettingsViewController::updater() const {
  return updater_ ? updater_ : DM_SUUpdater::sharedUpdater();
}

std::string UpdatesSettingsViewController::toolbarItemTitle() const {
  return tw::localized("Updates");
}

QIcon UpdatesSettingsViewController::toolbarItemImage() const {
  return tw::ui::imageNamed("IconSettingsUpdates");
}

void UpdatesSettingsViewController::loadView() {
  tw::app::SettingsPaneLayout pane;
  pane.addSection(tw::localized("Software updates:"));
  autoCheck_ = pane.addCheckBox(tw::localized("Check for updates automatically"));
  lastCheck_ = pane.addText();
  checkNow_ = pane.addButton(tw::localized("Check Now"));
  QObject::connect(checkNow_, &QPushButton::clicked, checkNow_,
                   [this] { checkForUpdates(checkNow_); });
  setView(pane.finish());
}

void UpdatesSettingsViewController::viewDidLoad() {
  ViewController::viewDidLoad();
  createBindings();
}

void UpdatesSettingsViewController::createBindings() {
  auto self = std::static_pointer_cast<tw::Object>(shared_from_this());
  // The updater's own setting: stored by the binding, announced to nobody.
  tw::app::bindCheckBox(autoCheck_, updater(), "automaticallyChecksForUpdates", self);
  refreshLastUpdateCheckUi();
}

std::string UpdatesSettingsViewController::lastCheckText(const std::optional<tw::Date>& date) {
  if (!date) return tw::localized("Never");
  if (BTDateUtility::isToday(*date))
    return tw::localizedFormat("Today at %@", BTDateUtility::shortTimeString(*date));
  if (BTDateUtility::isYesterday(*date))
    return tw::localizedFormat("Yesterday at %@", BTDateUtility::shortTimeString(*date));
  return tw::localizedFormat("%@ at %@", BTDateUtility::shortDateString(*date),
                             BTDateUtility::shortTimeString(*date));
}

void UpdatesSettingsViewController::refreshLastUpdateCheckUi() {
  if (!lastCheck_) return;
  const std::string text =
      tw::localizedFormat("Last Check: %@", lastCheckText(updater()->lastUpdateCheckDate()));
  lastCheck_->setText(QString::fromStdString(text));
}

void UpdatesSettingsViewController::checkForUpdates(QObject*) {
  updater()->checkForUpdates(nullptr);
  refreshLastUpdateCheckUi();
}
