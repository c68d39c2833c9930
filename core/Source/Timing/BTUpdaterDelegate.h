#pragma once
// Told when the tick scheduler starts ticking (its first object arrived) and when it stops (its
// last object left); the application keeps the machine awake in between. Implemented by the
// application; held weakly by BTUpdater. Called on the thread that adds or removes objects (the
// main thread).

class BTUpdater;

class BTUpdaterDelegate {
 public:
  virtual ~BTUpdaterDelegate() = default;

  virtual void updaterDidBeginUpdating(BTUpdater& updater) = 0;
  virtual void updaterDidStopUpdating(BTUpdater& updater) = 0;
};
