#pragma once
// BTSettableTimeObjectControlViewModel: the control of a count-down (timer or alarm). Adds the
// finish: the tick that shows 0 moves the object to state 21 (finished; the timing controller
// then takes the control off the tick scheduler), the triggers are evaluated once more so the
// ones on finishing fire, and one second later the object resets itself, unless its state
// changed again in that second (stopped and started, restarted by an action).
// Made by the timing controller through create(); main thread only.

#include <memory>

#include "core/Source/Timing/BTTimeObjectControlViewModel.h"

class BTSettableTimeObjectControlViewModel : public BTTimeObjectControlViewModel {
 public:
  // How long a finished object stays finished before it resets itself.
  static constexpr double kResetDelayAfterFinish = 1.0;

  using BTTimeObjectControlViewModel::BTTimeObjectControlViewModel;

 protected:
  void onUpdated(double value) override;
  virtual void onFinish();
};
