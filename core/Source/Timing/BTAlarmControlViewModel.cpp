#include "core/Source/Timing/BTAlarmControlViewModel.h"

#include <cmath>

#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTAlarm.h"
#include "platform/foundation/Exception.h"

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
  BTAlarm& a = alarm();
  const tw::Date finish = a.computedFinishDate();
  a.setFinishDate(finish);
  finishTimestamp_ = finish.secondsSince1970;
}

void BTAlarmControlViewModel::onReset(std::int64_t previous) {
  BTSettableTimeObjectControlViewModel::onReset(previous);
  alarm().setFinishDate(std::nullopt);
  finishTimestamp_.reset();
}
