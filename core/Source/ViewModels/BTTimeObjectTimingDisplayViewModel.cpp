#include "core/Source/ViewModels/BTTimeObjectTimingDisplayViewModel.h"

#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "platform/foundation/Dispatch.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"

BTTimeObjectTimingDisplayViewModel::BTTimeObjectTimingDisplayViewModel(
    ConstructionKey, std::shared_ptr<BTTimeObject> timeObject)
    : BTTimeObjectViewModel(std::move(timeObject)) {}

void BTTimeObjectTimingDisplayViewModel::subscribe() { follow("timeObject.timingValue"); }

void BTTimeObjectTimingDisplayViewModel::follow(const char* keyPath) {
  auto self = shared_from_this();
  std::weak_ptr<BTTimeObjectTimingDisplayViewModel> weakSelf =
      std::static_pointer_cast<BTTimeObjectTimingDisplayViewModel>(self);
  rac_valuesForKeyPath(self, keyPath, self)->subscribeNext([weakSelf](const tw::Value&) {
    if (auto model = weakSelf.lock()) model->notifyTimingValueUpdated();
  });
}

double BTTimeObjectTimingDisplayViewModel::currentTimingValue() const {
  return timeObject()->timingValue();
}

void BTTimeObjectTimingDisplayViewModel::setTimingValueUpdatedHandler(Handler handler) {
  TW_MAIN_THREAD_ONLY("BTTimeObjectTimingDisplayViewModel::setTimingValueUpdatedHandler");
  handler_ = std::move(handler);
  notifyTimingValueUpdatedWithValue(pendingValue_);
}

void BTTimeObjectTimingDisplayViewModel::notifyTimingValueUpdated() {
  notifyTimingValueUpdatedWithValue(currentTimingValue());
}

void BTTimeObjectTimingDisplayViewModel::notifyTimingValueUpdatedWithValue(double value) {
  if (handler_)
    handler_(value);
  else
    pendingValue_ = value;
}
