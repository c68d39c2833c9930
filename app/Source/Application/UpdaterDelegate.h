#pragma once
// UpdaterDelegate: keeps the machine, and on request the display, awake while the tick
// scheduler runs. It holds one process activity from the scheduler's begin to its stop, with
// options chosen by the general settings preventSystemSleep and preventDisplaySleep; a change of
// either while the activity is held replaces it at once. At most one activity is held.
//
// A lazy singleton of the application's assembly, held by it for the process's life (the
// scheduler holds it weakly). Main thread only: the scheduler's callbacks and the settings
// announcements (observed on the main queue) arrive there.

#include <cstdint>
#include <memory>

#include "core/Source/Settings/BTSettingsProvider.h"
#include "core/Source/Timing/BTUpdaterDelegate.h"
#include "platform/desktop/ProcessActivities.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Object.h"
#include "platform/inject/Injectable.h"

class UpdaterDelegate : public tw::Object, public BTUpdaterDelegate, public tw::Injectable {
 public:
  static constexpr std::uint64_t kBaseActivityOptions = 0xFF00EFFFFFull;
  static constexpr const char* kActivityReason = "Updater is managing updaterable objects.";

  // Activities go to the process's shared service unless another is given (tests).
  explicit UpdaterDelegate(
      std::shared_ptr<tw::ProcessActivities> activities = tw::ProcessActivities::shared());
  ~UpdaterDelegate() override;

  std::shared_ptr<BTSettingsProvider> settingsProvider() const { return settingsProvider_.lock(); }
  void setSettingsProvider(std::weak_ptr<BTSettingsProvider> provider) {
    settingsProvider_ = std::move(provider);
  }
  // tw::Injectable: settingsProvider.
  void injectProperties(tw::PropertyInjector& injector) override;

  void updaterDidBeginUpdating(BTUpdater& updater) override;
  void updaterDidStopUpdating(BTUpdater& updater) override;
  void settingsChanged(const tw::Notification& notification);

  void startBackgroundActivity();
  void stopBackgroundActivity();
  void reloadBackgroundActivity();

  bool isHoldingActivity() const { return activity_ != nullptr; }
  // The options an activity begun now would carry.
  std::uint64_t activityOptions() const;

 private:
  std::weak_ptr<BTSettingsProvider> settingsProvider_;
  std::shared_ptr<tw::ProcessActivities> activities_;
  tw::ProcessActivities::Token activity_;
  tw::ScopedNotificationToken settingsObserver_;
};
