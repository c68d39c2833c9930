#pragma once
// BTAlarmControlViewModel: the control of an alarm. Armed, the alarm counts down to its next
// ringing moment, fixed when it starts and held only in memory (a running alarm computes it
// afresh after a restart). Alarms cannot pause: pause() does nothing and the start button reads
// "Set" throughout. After ringing the alarm resets and stays unarmed until started again.
// The ringing moment stands for a wall time in the zone it was computed in: when the zone
// changes, an armed alarm is armed again for its wall time in the new zone.
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

  // Arms a running alarm again for its wall time when the time zone is no longer the one its
  // ringing moment was computed in; true when it did. A moment already passed stays, so an
  // alarm missed while the machine slept still rings.
  bool followTimeZone();

 protected:
  bool canPause() const override { return false; }
  void onRunning(std::int64_t previous) override;
  void onReset(std::int64_t previous) override;

 private:
  BTAlarm& alarm() const;
  void arm();

  std::uint64_t armedInZone_ = 0;  // BTDateUtility::timeZoneGeneration() when armed
};
