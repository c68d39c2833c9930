#include "core/Source/Timing/BTAlarmControlViewModel.h"

#include <cmath>

#include "core/Source/Library/BTDateUtility.h"
#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTAlarm.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"

BTAlarm& BTAlarmControlViewModel::alarm() const {
  auto* a = dynamic_cast<BTAlarm*>(timeObject().get());
  if (!a)
    tw::raise(tw::NSInternalInconsistencyException, "`BTAlarmControlViewModel` needs a `BTAlarm`");
  return *a;
}

double BTAlarmControlViewModel::timingValue() const {
  if (!finishTimestamp_) return 0.0;
  return std::ceil(*finishTimestamp_ - BTGetSecondsSince1970());
}

void BTAlarmControlViewModel::onRunning(std::int64_t previous) {
  BTSettableTimeObjectControlViewModel::onRunning(previous);
  // Started again straight from ringing: arm for the next occurrence, not the one just passed.
  if (previous == tw::kTimingStateFinished) finishTimestamp_.reset();
  if (finishTimestamp_) return;
  arm();
}

void BTAlarmControlViewModel::arm() {
  // The generation first: a zone change noticed while computing is then caught next time.
  armedInZone_ = BTDateUtility::timeZoneGeneration();
  BTAlarm& a = alarm();
  const tw::Date finish = a.computedFinishDate();
  a.setFinishDate(finish);
  finishTimestamp_ = finish.secondsSince1970;
}

bool BTAlarmControlViewModel::followTimeZone() {
  if (timeObject()->timingState() != tw::kTimingStateRunning || !finishTimestamp_) return false;
  if (BTDateUtility::timeZoneGeneration() == armedInZone_) return false;
  if (*finishTimestamp_ <= BTGetSecondsSince1970()) return false;
  const double before = *finishTimestamp_;
  arm();
  tw::logf("<BTAlarmControlViewModel> The time zone changed: alarm %@ now rings at %@ (was %@)",
           timeObject()->uuid().value_or("(null)"),
           BTDateUtility::mediumString(tw::Date{*finishTimestamp_}),
           BTDateUtility::mediumString(tw::Date{before}));
  update();
  return true;
}

void BTAlarmControlViewModel::onReset(std::int64_t previous) {
  BTSettableTimeObjectControlViewModel::onReset(previous);
  alarm().setFinishDate(std::nullopt);
  finishTimestamp_.reset();
}
