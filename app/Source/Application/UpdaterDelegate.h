#pragma once
// UpdaterDelegate: the tick scheduler's delegate in the application. While the scheduler ticks
// (from its first running object to its last), it keeps the machine awake through the
// application's sleep prevention, handed to it as a KeepAwake (none: nothing is held).
// A lazy singleton of the application's assembly; main thread only.

#include <memory>

#include "core/Source/Timing/BTUpdaterDelegate.h"
#include "platform/foundation/Object.h"

namespace tw::app {

// What the scheduler's delegate needs of sleep prevention: hold an activity from begin to end.
class KeepAwake {
 public:
  virtual ~KeepAwake() = default;
  virtual void beginKeepingAwake() = 0;
  virtual void endKeepingAwake() = 0;
};

}  // namespace tw::app

class UpdaterDelegate : public tw::Object, public BTUpdaterDelegate {
 public:
  UpdaterDelegate() = default;

  void updaterDidBeginUpdating(BTUpdater& updater) override;
  void updaterDidStopUpdating(BTUpdater& updater) override;

  std::shared_ptr<tw::app::KeepAwake> keepAwake() const { return keepAwake_; }
  void setKeepAwake(std::shared_ptr<tw::app::KeepAwake> keepAwake) {
    keepAwake_ = std::move(keepAwake);
  }
  // Whether the scheduler is ticking now, as last told.
  bool isUpdating() const { return updating_; }

 private:
  std::shared_ptr<tw::app::KeepAwake> keepAwake_;
  bool updating_ = false;
};
