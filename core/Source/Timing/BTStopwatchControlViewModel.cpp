#include "core/Source/Timing/BTStopwatchControlViewModel.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Settings/BTSettingsProvider.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/inject/Injection.h"

namespace {
std::weak_ptr<BTSettingsProvider>& defaultProviderSlot() {
  static std::weak_ptr<BTSettingsProvider> provider;
  return provider;
}
}  // namespace

std::uint16_t BTStopwatchControlViewModel::updateRateForAccuracy(std::int64_t accuracy) {
  switch (accuracy) {
    case 1:
      return kRateHundredths;
    case 2:
      return kRateMilliseconds;
    default:
      return kRateTenths;
  }
}

void BTStopwatchControlViewModel::setDefaultSettingsProvider(
    std::weak_ptr<BTSettingsProvider> provider) {
  defaultProviderSlot() = std::move(provider);
}

std::shared_ptr<BTSettingsProvider> BTStopwatchControlViewModel::defaultSettingsProvider() {
  return defaultProviderSlot().lock();
}

BTStopwatchControlViewModel::BTStopwatchControlViewModel(ConstructionKey key,
                                                         std::shared_ptr<BTTimeObject> timeObject,
                                                         std::shared_ptr<BTActionExecutor> executor)
    : BTTimeObjectControlViewModel(key, std::move(timeObject), std::move(executor)),
      settingsProvider_(defaultProviderSlot()) {
  try {
    tw::injectFromDefaultFactory(*this);
  } catch (const tw::Exception& e) {
    // A factory without exactly one settings provider: the registered one stays, so the
    // stopwatch still ticks at a rate it can serve.
    tw::log(tw::LogLevel::Debug,
            "<BTStopwatchControlViewModel> No settings provider injected (" + e.reason() + ")");
  }
}

void BTStopwatchControlViewModel::injectProperties(tw::PropertyInjector& injector) {
  injector.inject(settingsProvider_);
}

BTStopwatch& BTStopwatchControlViewModel::stopwatch() const {
  auto* s = dynamic_cast<BTStopwatch*>(timeObject().get());
  if (!s)
    tw::raise(tw::NSInternalInconsistencyException,
              "`BTStopwatchControlViewModel` needs a `BTStopwatch`");
  return *s;
}

std::uint16_t BTStopwatchControlViewModel::updateRate() const {
  std::int64_t accuracy = 0;
  if (auto provider = settingsProvider()) {
    if (auto bundle = provider->timeObjectsBundle()) accuracy = bundle->stopwatchAccuracy();
  }
  return updateRateForAccuracy(accuracy);
}

double BTStopwatchControlViewModel::timingValue() const {
  if (!startTimestamp_) return 0.0;
  return BTGetSecondsSince1970() - *startTimestamp_;
}

double BTStopwatchControlViewModel::adjustedStartTimestamp(double start) const {
  const auto pause = stopwatch().pauseDate();
  // A pause without its moment (damaged data) counts as a pause that has just begun.
  const double pausedAt = pause ? pause->secondsSince1970 : BTGetSecondsSince1970();
  return BTGetSecondsSince1970() - pausedAt + start;
}

void BTStopwatchControlViewModel::onRunning(std::int64_t previous) {
  BTTimeObjectControlViewModel::onRunning(previous);
  BTStopwatch& s = stopwatch();
  const bool hadStart = s.startDate().has_value();
  if (!hadStart) s.setStartDate(tw::Date{BTGetSecondsSince1970()});
  startTimestamp_ = s.startDate()->secondsSince1970;
  if (previous == tw::kTimingStatePaused) {
    if (hadStart) {
      const double adjusted = adjustedStartTimestamp(*startTimestamp_);
      startTimestamp_ = adjusted;
      s.setStartDate(tw::Date{adjusted});
    }
    s.setPauseDate(std::nullopt);
  }
}

void BTStopwatchControlViewModel::onPaused(std::int64_t previous) {
  BTTimeObjectControlViewModel::onPaused(previous);
  BTStopwatch& s = stopwatch();
  if (!s.pauseDate()) s.setPauseDate(tw::Date{BTGetSecondsSince1970()});
  // Shows exactly the elapsed time a resume will continue from.
  if (startTimestamp_)
    s.setTimingValue(std::max(0.0, s.pauseDate()->secondsSince1970 - *startTimestamp_));
}

void BTStopwatchControlViewModel::onReset(std::int64_t previous) {
  BTTimeObjectControlViewModel::onReset(previous);
  BTStopwatch& s = stopwatch();
  s.setStartDate(std::nullopt);
  s.setPauseDate(std::nullopt);
  startTimestamp_.reset();
}

void BTStopwatchControlViewModel::onSynchronize() {
  BTStopwatch& stored = stopwatch();
  const std::int64_t state = currentState();
  if (state == tw::kTimingStateRunning || state == tw::kTimingStatePaused) {
    const auto start = stored.startDate();
    const auto pause = stored.pauseDate();
    // An endless elapsed time would fire every elapsed action at once: reset instead.
    const bool startUnusable = start && !std::isfinite(start->secondsSince1970);
    if (startUnusable || (pause && !std::isfinite(pause->secondsSince1970))) {
      tw::logf(
          "<BTStopwatchControlViewModel> Stopwatch %@ was stored %@ with an unusable %@ date "
          "(%@): it is reset",
          stored.uuid().value_or("(null)"), state == tw::kTimingStateRunning ? "running" : "paused",
          startUnusable ? "start" : "pause",
          std::to_string(startUnusable ? start->secondsSince1970 : pause->secondsSince1970));
      stored.setTimingState(tw::kTimingStateReset);
    }
  }
  BTTimeObjectControlViewModel::onSynchronize();
  if (currentState() != tw::kTimingStatePaused) return;
  BTStopwatch& s = stopwatch();
  const auto start = s.startDate();
  if (!start) {
    // Paused without a start (damaged data): shows 0; a resume starts from now.
    startTimestamp_.reset();
    s.setTimingValue(0.0);
    return;
  }
  startTimestamp_ = start->secondsSince1970;
  const double adjusted = adjustedStartTimestamp(*startTimestamp_);
  s.setTimingValue(std::max(0.0, BTGetSecondsSince1970() - adjusted));
}
