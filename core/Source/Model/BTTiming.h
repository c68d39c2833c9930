#pragma once
// BTTiming: what a time object's control drives: the running state and the seconds shown.
// Adopted by BTTimeObject; main thread only, like the objects that adopt it.
//
// timingState: 0 reset, 10 paused, 20 running, 21 finished (see BTTimeObject.h).

#include <cstdint>

class BTTiming {
 public:
  virtual ~BTTiming() = default;

  // Stores the state without telling observers; the control brackets it with its own
  // will-change / did-change.
  virtual void setTimingStateValue(std::int64_t timingState) = 0;
  virtual std::int64_t timingState() const = 0;
  virtual void setTimingState(std::int64_t timingState) = 0;
  virtual double timingValue() const = 0;
  virtual void setTimingValue(double timingValue) = 0;
};
