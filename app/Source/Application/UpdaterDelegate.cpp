#include "app/Source/Application/UpdaterDelegate.h"

#include "core/Source/Settings/BTSettingKeys.h"
#include "core/Source/Settings/BTSettingsNotification.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/inject/Injection.h"
#include "platform/inject/PropertyInjector.h"

UpdaterDelegate::UpdaterDelegate(std::shared_ptr<tw::ProcessActivities> activities)
    : activities_(std::move(activities)) {
  try {
    tw::injectFromDefaultFactory(*this);
  } catch (const tw::Exception& e) {
    // Without a settings provider the activity still runs, with idle sleep allowed.
    tw::log(tw::LogLevel::Debug,
            "<UpdaterDelegate> No settings provider injected (" + e.reason() + ")");
  }
  settingsObserver_ = tw::NotificationCenter::defaultCenter()->addObserver(
      BTSettingsChangedNotification, nullptr, tw::DispatchQueue::main(),
      [this](const tw::Notification& notification) { settingsChanged(notification); });
}

UpdaterDelegate::~UpdaterDelegate() = default;

void UpdaterDelegate::injectProperties(tw::PropertyInjector& injector) {
  injector.inject(settingsProvider_);
}

void UpdaterDelegate::updaterDidBeginUpdating(BTUpdater&) { startBackgroundActivity(); }

void UpdaterDelegate::updaterDidStopUpdating(BTUpdater&) { stopBackgroundActivity(); }

void UpdaterDelegate::settingsChanged(const tw::Notification& notification) {
  if (bt_settingKeyChanged(notification, tw::settingkeys::kPreventSystemSleep) ||
      bt_settingKeyChanged(notification, tw::settingkeys::kPreventDisplaySleep)) {
    reloadBackgroundActivity();
  }
}

std::uint64_t UpdaterDelegate::activityOptions() const {
  std::uint64_t options = kBaseActivityOptions;
  auto provider = settingsProvider();
  auto general = provider ? provider->generalBundle() : nullptr;
  if (general && general->preventSystemSleep()) options |= tw::kActivityIdleSystemSleepDisabled;
  if (general && general->preventDisplaySleep()) options |= tw::kActivityIdleDisplaySleepDisabled;
  return options;
}

void UpdaterDelegate::startBackgroundActivity() {
  if (activity_ || !activities_) return;
  activity_ = activities_->beginActivity(activityOptions(), kActivityReason);
}

void UpdaterDelegate::stopBackgroundActivity() {
  if (!activity_) return;
  activities_->endActivity(activity_);
  activity_.reset();
}

void UpdaterDelegate::reloadBackgroundActivity() {
  const bool wasHolding = isHoldingActivity();
  stopBackgroundActivity();
  if (wasHolding) startBackgroundActivity();
}
