#include "core/Source/Timing/BTSettableTimeObjectControlViewModel.h"

void BTSettableTimeObjectControlViewModel::onUpdated(double value) {
  BTTimeObjectControlViewModel::onUpdated(value);
  if (value > 0) return;
  noteStateChange();
  // Through the ordinary setter: observers hear 20 -> 21 at once.
  timeObject()->setTimingState(BTTimeObject::kTimingStateFinished);
  onFinish();
}

void BTSettableTimeObjectControlViewModel::onFinish() {
  // Now that the finished state is known to the state triggers, the ones on finishing fire.
  evaluateAndExecuteActions();
  scheduleResetAfter(kResetDelayAfterFinish, BTTimeObject::kTimingStateFinished);
}
