#include "core/Source/ViewModels/BTTimerTimingDisplayViewModel.h"

#include "core/Source/Model/BTSettableTimeObject.h"
#include "core/Source/Model/BTTimeSetting.h"

void BTTimerTimingDisplayViewModel::subscribe() {
  BTTimeObjectTimingDisplayViewModel::subscribe();
  follow("timeObject.time");
}

double BTTimerTimingDisplayViewModel::currentTimingValue() const {
  const auto& object = timeObject();
  auto timer = std::dynamic_pointer_cast<BTSettableTimeObject>(object);
  if (timer && object->timingState() == tw::kTimingStateReset) {
    auto time = timer->time();
    return time ? time->value() : 0.0;
  }
  return object->timingValue();
}
