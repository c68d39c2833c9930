#include "core/Source/Timing/BTSettableTimeObjectControlViewModel.h"

#include "core/Source/Library/BTTime.h"

void BTSettableTimeObjectControlViewModel::onUpdated(double value) {
  BTTimeObjectControlViewModel::onUpdated(value);
  if (value > 0) {
    scheduleFinishUpdate();
    return;
  }
  finishUpdate_.cancel();
  noteStateChange();
  // Through the ordinary setter: observers hear 20 -> 21 at once.
  timeObject()->setTimingState(tw::kTimingStateFinished);
  onFinish();
}

void BTSettableTimeObjectControlViewModel::onFinish() {
  // Now that the finished state is known to the state triggers, the ones on finishing fire.
  evaluateAndExecuteActions();
  scheduleResetAfter(kResetDelayAfterFinish, tw::kTimingStateFinished);
}

void BTSettableTimeObjectControlViewModel::scheduleFinishUpdate() {
  const std::uint16_t rate = updateRate();
  if (!finishTimestamp_ || rate == 0) return;
  const double remaining = *finishTimestamp_ - BTGetSecondsSince1970();
  if (remaining > 1.0 / rate) return;
  finishUpdate_.cancel();
  // update() does nothing unless the object still runs, so a pause or reset in between is safe.
  std::weak_ptr<BTSettableTimeObjectControlViewModel> weak =
      std::static_pointer_cast<BTSettableTimeObjectControlViewModel>(shared_from_this());
  finishUpdate_ = tw::DispatchQueue::main()->after(remaining, [weak] {
    if (auto self = weak.lock()) self->update();
  });
}
