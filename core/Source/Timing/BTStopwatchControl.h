#pragma once
// BTStopwatchControl: the control of a stopwatch, which also takes the split and lap commands of
// the stopwatch screen. Implemented by BTStopwatchControlViewModel. Main thread only.

#include "core/Source/Timing/BTTimingControl.h"

class BTStopwatchControl : public virtual BTTimingControl {
 public:
  virtual void split() = 0;
  virtual void lap() = 0;
};
