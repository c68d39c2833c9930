#include "app/Source/Application/UpdaterDelegate.h"

void UpdaterDelegate::updaterDidBeginUpdating(BTUpdater&) {
  updating_ = true;
  if (keepAwake_) keepAwake_->beginKeepingAwake();
}

void UpdaterDelegate::updaterDidStopUpdating(BTUpdater&) {
  updating_ = false;
  if (keepAwake_) keepAwake_->endKeepingAwake();
}
