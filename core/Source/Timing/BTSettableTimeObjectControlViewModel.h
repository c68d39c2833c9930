#pragma once
// BTSettableTimeObjectControlViewModel: the control of a count-down (timer or alarm). Adds the
// finish: the tick that shows 0 moves the object to state 21 (finished; the timing controller
// then takes the control off the tick scheduler), the triggers are evaluated once more so the
// ones on finishing fire, and one second later the object resets itself, unless its state
// changed again in that second (stopped and started, restarted by an action).
// Made by the timing controller through create(); main thread only.

#include <memory>
#include <optional>

#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "platform/foundation/Dispatch.h"

class BTSettableTimeObjectControlViewModel : public BTTimeObjectControlViewModel {
 public:
  // How long a finished object stays finished before it resets itself.
  static constexpr double kResetDelayAfterFinish = 1.0;

  using BTTimeObjectControlViewModel::BTTimeObjectControlViewModel;

  // The working copy of the finish (or ringing) moment, seconds since 1970; none while unarmed.
  std::optional<double> finishTimestamp() const { return finishTimestamp_; }

 protected:
  void onUpdated(double value) override;
  virtual void onFinish();

  std::optional<double> finishTimestamp_;

 private:
  // Ticks come on a schedule anchored at the tick scheduler's start, so the tick that would show
  // 0 can come up to a whole update period after the finish moment. When the finish falls before
  // the next tick, one extra update is placed at the finish moment itself.
  void scheduleFinishUpdate();

  tw::DelayedWork finishUpdate_;
};
