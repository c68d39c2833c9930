#include "app/Source/Settings/AppearanceSettingsViewController.h"

#include <utility>

#include "app/Source/Settings/SettingsBindings.h"
#include "app/Source/Settings/SettingsPaneLayout.h"
#include "core/Source/Settings/BTSettingKeys.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACSignal.h"

void AppearanceSettingsViewController::loadView() {
  tw::app::SettingsPaneLayout pane;
  pane.addSection(tw::localized("Lists:"));
  animations_ = pane.addCheckBox(tw::localized("Turn off animations"));
  militaryTime_ = pane.addCheckBox(tw::localized("Show alarm times on a 24-hour clock"));
  pane.addSection(tw::localized("Stopwatches:"));
  accuracy_ = pane.addPopUp(tw::localized("Show time in"));
  QObject::connect(accuracy_, &QComboBox::activated, accuracy_,
                   [this](int) { onStopwatchAccuracySelectionChange(accuracy_); });
  setView(pane.finish());
}

void AppearanceSettingsViewController::createBindings() {
  auto provider = settingsProvider();
  const auto general = provider ? provider->generalBundle() : nullptr;
  setStopwatchAccuracySelectionMenu();
  if (!general) return;
  auto self = std::static_pointer_cast<tw::Object>(shared_from_this());
  std::weak_ptr<BTGeneralBundleSettingsImpl> weak = general;
  const std::pair<std::shared_ptr<tw::SettingsCheckBox>, const char*> rows[] = {
      {animations_, tw::settingkeys::kAnimationsDisabled},
      {militaryTime_, tw::settingkeys::kUseMilitaryTime}};
  for (const auto& row : rows) {
    const char* key = row.second;
    tw::app::bindCheckBox(row.first, general, key, self)->subscribeNext([weak, key](auto&) {
      if (auto bundle = weak.lock()) bundle->notifySettingsChangedWithKeys(key, nullptr);
    });
  }
}

void AppearanceSettingsViewController::setStopwatchAccuracySelectionMenu() {
  if (!accuracy_) return;
  accuracy_->clear();
  accuracy_->addItem(QString::fromStdString(tw::localized("Deciseconds (0.0)")), 0);
  accuracy_->addItem(QString::fromStdString(tw::localized("Centiseconds (0.00)")), 1);
  auto provider = settingsProvider();
  const auto bundle = provider ? provider->timeObjectsBundle() : nullptr;
  if (!bundle) return;
  const int index = accuracy_->findData(static_cast<int>(bundle->stopwatchAccuracy()));
  if (index >= 0) {
    accuracy_->setCurrentIndex(index);
  } else {
    onStopwatchAccuracySelectionChange(nullptr);
  }
}

void AppearanceSettingsViewController::onStopwatchAccuracySelectionChange(QObject*) {
  auto provider = settingsProvider();
  const auto bundle = provider ? provider->timeObjectsBundle() : nullptr;
  if (!bundle || !accuracy_ || accuracy_->currentIndex() < 0) return;
  bundle->setStopwatchAccuracy(accuracy_->currentData().toInt());
  bundle->notifySettingsChangedWithKeys(tw::settingkeys::kStopwatchAccuracy, nullptr);
}
