#pragma once
// BTTimingControl: the running control of one time object as the rest of the system drives it:
// the timing controller, the screens, the menus and the link and repeat actions start, pause and
// reset time objects only through this. Adds to BTUpdateable, so the tick scheduler can tick a
// running control. Implemented by BTTimeObjectControlViewModel and its kinds.
// Main thread only.

#include <memory>

#include "core/Source/Model/BTTiming.h"
#include "core/Source/Timing/BTUpdateable.h"

class BTTimingControl : public virtual BTUpdateable {
 public:
  // Adopts the state stored with the time object (called once, right after creation).
  virtual void synchronize() = 0;
  virtual void start() = 0;
  virtual void reset() = 0;
  virtual void pause() = 0;
  // The time object this control drives.
  virtual std::shared_ptr<BTTiming> timingObject() const = 0;
};
