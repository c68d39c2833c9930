#pragma once
// BTStopwatchControlViewModel: the control of a stopwatch. Counts up from its start moment
// (startDate, stored, so a running stopwatch runs on across a restart); a pause stores its moment
// and the resume moves the start forward by the time spent paused, so the elapsed time continues
// where it stopped. The value is always read from the wall clock; the accuracy setting only
// changes how often the display is refreshed. Split and lap are accepted and keep nothing.
//
// The settings provider is held weakly and filled by injection from the default component
// factory when the control is made. Where there is no factory, or the factory has no settings
// provider (tests with an assembly of their own), the control takes the one registered with
// setDefaultSettingsProvider instead; without either, the stopwatch ticks at the lowest accuracy.
// Made by the timing controller through create(); main thread only.

#include <cstdint>
#include <memory>
#include <optional>

#include "core/Source/Timing/BTStopwatchControl.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "platform/inject/Injectable.h"

class BTSettingsProvider;
class BTStopwatch;

class BTStopwatchControlViewModel : public BTTimeObjectControlViewModel,
                                    public virtual BTStopwatchControl,
                                    public tw::Injectable {
 public:
  // Updates per second by the "stopwatchAccuracy" setting: 0 (and anything unknown) tenths,
  // 1 hundredths, 2 milliseconds. Milliseconds would want 1000 updates a second, above what the
  // tick scheduler serves (500); the display reads milliseconds from the clock anyway, so 500
  // loses nothing that can be seen.
  static constexpr std::uint16_t kRateTenths = 10;
  static constexpr std::uint16_t kRateHundredths = 100;
  static constexpr std::uint16_t kRateMilliseconds = 500;
  static std::uint16_t updateRateForAccuracy(std::int64_t accuracy);

  BTStopwatchControlViewModel(ConstructionKey key, std::shared_ptr<BTTimeObject> timeObject,
                              std::shared_ptr<BTActionExecutor> executor);

  // Read afresh on every call.
  std::uint16_t updateRate() const override;
  // now - start; 0 while no start is fixed.
  double timingValue() const override;

  void split() override {}
  void lap() override {}

  std::shared_ptr<BTSettingsProvider> settingsProvider() const { return settingsProvider_.lock(); }
  void setSettingsProvider(std::weak_ptr<BTSettingsProvider> provider) {
    settingsProvider_ = std::move(provider);
  }
  // tw::Injectable: settingsProvider.
  void injectProperties(tw::PropertyInjector& injector) override;

  // The provider new stopwatch controls take when injection gives them none (held weakly).
  // Main thread.
  static void setDefaultSettingsProvider(std::weak_ptr<BTSettingsProvider> provider);
  static std::shared_ptr<BTSettingsProvider> defaultSettingsProvider();

  std::optional<double> startTimestamp() const { return startTimestamp_; }

 protected:
  void onRunning(std::int64_t previous) override;
  void onPaused(std::int64_t previous) override;
  void onReset(std::int64_t previous) override;
  void onSynchronize() override;

 private:
  BTStopwatch& stopwatch() const;
  // The start moved forward by the time spent paused until now.
  double adjustedStartTimestamp(double start) const;

  std::optional<double> startTimestamp_;
  std::weak_ptr<BTSettingsProvider> settingsProvider_;
};
