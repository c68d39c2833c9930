#include "app/Source/Settings/GeneralSettingsViewController.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/Source/Settings/SettingsBindings.h"
#include "app/Source/Settings/SettingsPaneLayout.h"
#include "core/Source/Settings/BTSettingKeys.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"

namespace {

// After the binding has stored the value: the announcement runs on a later turn of the main
// queue.
void announceLater(const std::shared_ptr<BTBaseSettingsContainer>& bundle, const char* key) {
  std::weak_ptr<BTBaseSettingsContainer> weak = bundle;
  tw::DispatchQueue::main()->async([weak, key] {
    if (auto strong = weak.lock()) strong->notifySettingsChangedWithKeys(key, nullptr);
  });
}

}  // namespace

void GeneralSettingsViewController::loadView() {
  tw::app::SettingsPaneLayout pane;
  pane.addSection(tw::localized("While timers run:"));
  systemSleep_ = pane.addCheckBox(tw::localized("Keep the computer awake"));
  displaySleep_ = pane.addCheckBox(tw::localized("Keep the display awake too"), 1);
  pane.addSection(tw::localized("Ask before:"));
  warnOnQuit_ = pane.addCheckBox(tw::localized("Quitting while timers, alarms or stopwatches run"));
  warnTimeDelete_ = pane.addCheckBox(tw::localized("Deleting a timer, alarm or stopwatch"));
  warnActionDelete_ = pane.addCheckBox(tw::localized("Deleting an action"));
  setView(pane.finish());
}

void GeneralSettingsViewController::createBindings() {
  auto provider = settingsProvider();
  if (!provider) return;
  const auto general = provider->generalBundle();
  const auto timeObjects = provider->timeObjectsBundle();
  const auto actionObjects = provider->actionObjectsBundle();
  auto self = std::static_pointer_cast<tw::Object>(shared_from_this());

  struct Row {
    std::shared_ptr<tw::SettingsCheckBox> box;
    std::shared_ptr<BTBaseSettingsContainer> bundle;
    const char* key;
  };
  const Row rows[] = {
      {systemSleep_, general, tw::settingkeys::kPreventSystemSleep},
      {displaySleep_, general, tw::settingkeys::kPreventDisplaySleep},
      {warnOnQuit_, timeObjects, tw::settingkeys::kWarnIfActiveOnQuit},
      {warnTimeDelete_, timeObjects, tw::settingkeys::kPromptBeforeDelete},
      {warnActionDelete_, actionObjects, tw::settingkeys::kPromptBeforeDelete},
  };
  for (const Row& row : rows) {
    if (!row.bundle) continue;
    std::weak_ptr<BTBaseSettingsContainer> bundle = row.bundle;
    const char* key = row.key;
    tw::app::bindCheckBox(row.box, row.bundle, key, self)->subscribeNext([bundle, key](auto&) {
      if (auto strong = bundle.lock()) announceLater(strong, key);
    });
  }

  if (!general) return;
  std::weak_ptr<GeneralSettingsViewController> weakSelf =
      std::static_pointer_cast<GeneralSettingsViewController>(self);
  std::weak_ptr<BTGeneralBundleSettingsImpl> weakGeneral = general;
  rac_valuesForKeyPath(general, tw::settingkeys::kPreventSystemSleep, self)
      ->subscribeNext([weakSelf, weakGeneral](const tw::Value& value) {
        auto strongSelf = weakSelf.lock();
        auto bundle = weakGeneral.lock();
        if (!strongSelf || !bundle) return;
        const bool on = value.boolValue();
        if (!on) {
          bundle->setPreventDisplaySleep(false);
          announceLater(bundle, tw::settingkeys::kPreventDisplaySleep);
        }
        strongSelf->updatePreventDisplaySleepUi(on);
      });
}

void GeneralSettingsViewController::updatePreventDisplaySleepUi(bool enabled) {
  if (!displaySleep_) return;
  displaySleep_->setEnabled(enabled);
  if (!displaySleep_->isEnabled()) displaySleep_->setState(tw::SettingsCheckBox::kOffState);
}
