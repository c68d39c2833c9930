#pragma once
// BTTiming: what a time object's control drives: the running state and the seconds shown.
// Adopted by BTTimeObject; main thread only, like the objects that adopt it.
//
// timingState holds one of tw::TimingState's values.

#include <cstdint>

namespace tw {

// The stored values of timingState. Unscoped over the stored integer, so a value compares with
// and is stored as the number the store keeps; finished counts as running, and a reset follows it.
enum TimingState : std::int64_t {
  kTimingStateReset = 0,
  kTimingStatePaused = 10,
  kTimingStateRunning = 20,
  kTimingStateFinished = 21,
};

}  // namespace tw

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
