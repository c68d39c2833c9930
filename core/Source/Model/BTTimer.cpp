#include "core/Source/Model/BTTimer.h"

#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTModelValue.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSubscriber.h"

void BTTimer::setFinishDate(const std::optional<tw::Date>& finishDate) {
  setValueForKey(tw::modelValue(finishDate), "finishDate");
}

void BTTimer::setPauseDate(const std::optional<tw::Date>& pauseDate) {
  setValueForKey(tw::modelValue(pauseDate), "pauseDate");
}

tw::Date BTTimer::computedFinishDate() const {
  const auto setting = time();
  return tw::Date{BTGetSecondsSince1970() + (setting ? setting->value() : 0.0)};
}

void BTTimer::initialize() {
  if (timeDisposable_) timeDisposable_->dispose();
  auto self = std::static_pointer_cast<BTTimer>(shared_from_this());
  std::weak_ptr<BTTimer> weakSelf = self;
  timeDisposable_ = RACSubscriber::create([weakSelf](const tw::Value& value) {
    auto timer = weakSelf.lock();
    if (!timer || timer->timingState() != kTimingStateReset) return;
    // A timer without a setting (or one whose setting went away) shows 0.
    timer->setTimingValue(value.doubleValue());
  });
  rac_valuesForKeyPath(self, "time.value", self)->subscribe(timeDisposable_);
}

void BTTimer::awakeFromInsert() {
  BTSettableTimeObject::awakeFromInsert();
  initialize();
}

void BTTimer::awakeFromFetch() {
  BTSettableTimeObject::awakeFromFetch();
  initialize();
}

std::vector<std::string> BTTimer::keyPathsForValuesAffectingKey(std::string_view key) const {
  // The path reaches into the setting, so a new setting and an edit of the one in place are
  // both heard, each once.
  if (key == "computedFinishDate" || key == "timingValue") return {"time.value"};
  return BTSettableTimeObject::keyPathsForValuesAffectingKey(key);
}
