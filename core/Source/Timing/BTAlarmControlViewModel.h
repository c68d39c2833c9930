#pragma once
// BTAlarmControlViewModel: the control of an alarm. Armed, the alarm counts down to its next
// ringing moment, fixed when it starts and held only in memory (a running alarm computes it
// afresh after a restart). Alarms cannot pause: pause() does nothing and the start button reads
// "Set" throughout. After ringing the alarm resets and stays unarmed until started again.
// Made by the timing controller through create(); main thread only.

#include <cstdint>
#include <optional>

#include "core/Source/Timing/BTSettableTimeObjectControlViewModel.h"

class BTAlarm;

class BTAlarmControlViewModel : public BTSettableTimeObjectControlViewModel {
 public:
  static constexpr std::uint16_t kUpdateRate = 2;

  using BTSettableTimeObjectControlViewModel::BTSettableTimeObjectControlViewModel;

  std::uint16_t updateRate() const override { return kUpdateRate; }
  // ceil(ringing moment - now); 0 while unarmed.
  double timingValue() const override;

 protected:
  bool canPause() const override { return false; }
  void onRunning(std::int64_t previous) override;
  void onReset(std::int64_t previous) override;

 private:
  BTAlarm& alarm() const;
};
