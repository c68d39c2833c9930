#pragma once
// BTTimerControlViewModel: the control of a timer. The timer counts down to a finish moment kept
// on the object (finishDate, stored, so a running timer runs on across a restart); a pause
// stores its moment (pauseDate) and the resume moves the finish forward by exactly the time
// spent paused. The value shown is the seconds left, raised to the next whole second, always
// measured against the wall clock, so late or missed ticks never make it drift.
// Made by the timing controller through create(); main thread only.

#include <cstdint>
#include <optional>

#include "core/Source/Timing/BTSettableTimeObjectControlViewModel.h"

class BTTimer;

class BTTimerControlViewModel : public BTSettableTimeObjectControlViewModel {
 public:
  static constexpr std::uint16_t kUpdateRate = 2;

  using BTSettableTimeObjectControlViewModel::BTSettableTimeObjectControlViewModel;

  std::uint16_t updateRate() const override { return kUpdateRate; }
  // ceil(finish - now); the full duration while no finish is fixed.
  double timingValue() const override;

 protected:
  void onRunning(std::int64_t previous) override;
  void onPaused(std::int64_t previous) override;
  void onReset(std::int64_t previous) override;
  void onSynchronize() override;

 private:
  BTTimer& timer() const;
  // The finish moved forward by the time spent paused until now.
  double adjustedFinishTimestamp(double finish) const;
};
