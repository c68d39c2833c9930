#pragma once
// What the tick scheduler (BTUpdater) ticks: the control of a running time object. Implemented
// by the control view models; the updater holds them while they run.
// Threads: updateRate() is read on the thread that adds the object (the main thread); update()
// is always called on the main thread.

#include <cstdint>

class BTUpdateable {
 public:
  virtual ~BTUpdateable() = default;

  virtual void update() = 0;
  // Updates per second the object wants; the updater accepts 1 to 500.
  virtual std::uint16_t updateRate() const = 0;
};
