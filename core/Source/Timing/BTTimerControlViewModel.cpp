#include "core/Source/Timing/BTTimerControlViewModel.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"

namespace {
double fullDuration(const BTTimer& timer) {
  const auto setting = timer.time();
  return setting ? setting->value() : 0.0;
}
}  // namespace

BTTimer& BTTimerControlViewModel::timer() const {
  auto* t = dynamic_cast<BTTimer*>(timeObject().get());
  if (!t)
    tw::raise(tw::NSInternalInconsistencyException, "`BTTimerControlViewModel` needs a `BTTimer`");
  return *t;
}

double BTTimerControlViewModel::timingValue() const {
  if (!finishTimestamp_) return fullDuration(timer());
  return std::ceil(*finishTimestamp_ - BTGetSecondsSince1970());
}

double BTTimerControlViewModel::adjustedFinishTimestamp(double finish) const {
  const auto pause = timer().pauseDate();
  // A pause without its moment (damaged data) counts as a pause that has just begun.
  const double pausedAt = pause ? pause->secondsSince1970 : BTGetSecondsSince1970();
  return BTGetSecondsSince1970() - pausedAt + finish;
}

void BTTimerControlViewModel::onRunning(std::int64_t previous) {
  BTSettableTimeObjectControlViewModel::onRunning(previous);
  BTTimer& t = timer();
  if (previous == tw::kTimingStateFinished) {
    // Started again straight from the finish: a new run of the full duration, not the finish
    // that has just passed.
    t.setFinishDate(std::nullopt);
    t.setPauseDate(std::nullopt);
  }
  // A finish stored while running (a restart, a resume) is kept.
  const bool hadFinish = t.finishDate().has_value();
  if (!hadFinish) t.setFinishDate(t.computedFinishDate());
  finishTimestamp_ = t.finishDate()->secondsSince1970;
  if (previous == tw::kTimingStatePaused) {
    if (hadFinish) {
      const double adjusted = adjustedFinishTimestamp(*finishTimestamp_);
      finishTimestamp_ = adjusted;
      t.setFinishDate(tw::Date{adjusted});
    }
    t.setPauseDate(std::nullopt);
  }
}

void BTTimerControlViewModel::onPaused(std::int64_t previous) {
  BTSettableTimeObjectControlViewModel::onPaused(previous);
  BTTimer& t = timer();
  if (!t.pauseDate()) t.setPauseDate(tw::Date{BTGetSecondsSince1970()});
  // Shows exactly what a resume will continue from, not what the last tick showed.
  if (finishTimestamp_)
    t.setTimingValue(std::max(0.0, std::ceil(*finishTimestamp_ - t.pauseDate()->secondsSince1970)));
}

void BTTimerControlViewModel::onReset(std::int64_t previous) {
  BTSettableTimeObjectControlViewModel::onReset(previous);
  BTTimer& t = timer();
  t.setTimingValue(fullDuration(t));
  t.setFinishDate(std::nullopt);
  t.setPauseDate(std::nullopt);
  finishTimestamp_.reset();
}

void BTTimerControlViewModel::onSynchronize() {
  BTTimer& stored = timer();
  const std::int64_t state = currentState();
  if (state == tw::kTimingStateRunning || state == tw::kTimingStatePaused) {
    const auto finish = stored.finishDate();
    const auto pause = stored.pauseDate();
    const std::string uuid = stored.uuid().value_or("(null)");
    // No moment to count down to, or a pause no resume can measure (it would move the finish
    // to an endless past): reset, rather than finish and run its actions.
    const char* unusable = nullptr;
    double moment = 0.0;
    if (finish && !std::isfinite(finish->secondsSince1970)) {
      unusable = "finish";
      moment = finish->secondsSince1970;
    } else if (pause && !std::isfinite(pause->secondsSince1970)) {
      unusable = "pause";
      moment = pause->secondsSince1970;
    }
    if (unusable) {
      tw::logf(
          "<BTTimerControlViewModel> Timer %@ was stored %@ with an unusable %@ date "
          "(%@): it is reset",
          uuid, state == tw::kTimingStateRunning ? "running" : "paused", unusable,
          std::to_string(moment));
      stored.setTimingState(tw::kTimingStateReset);
    } else if (!finish && state == tw::kTimingStateRunning) {
      // A run is always saved with its finish, so none means the moment was lost or damaged
      // (a value the store could not read as a date). Counting down afresh would run the
      // finish actions on a run the user never started.
      tw::logf(
          "<BTTimerControlViewModel> Timer %@ was stored running without a finish date: it "
          "is reset",
          uuid);
      stored.setTimingState(tw::kTimingStateReset);
    }
  }
  BTSettableTimeObjectControlViewModel::onSynchronize();
  if (currentState() != tw::kTimingStatePaused) return;
  BTTimer& t = timer();
  const auto finish = t.finishDate();
  if (!finish) {
    // Paused without a finish moment (damaged data): shows the full duration; a resume starts
    // a fresh run.
    finishTimestamp_.reset();
    t.setTimingValue(fullDuration(t));
    return;
  }
  finishTimestamp_ = finish->secondsSince1970;
  const double adjusted = adjustedFinishTimestamp(*finishTimestamp_);
  t.setTimingValue(std::max(0.0, std::ceil(adjusted - BTGetSecondsSince1970())));
}
