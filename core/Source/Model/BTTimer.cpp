#include "core/Source/Model/BTTimer.h"

#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"
#include "core/Source/Model/BTTimeSetting.h"

void BTTimer::setFinishDate(const std::optional<tw::Date>& finishDate) {
  setValueForKey(tw::modelValue(finishDate), BTModelKey::kFinishDate);
}

void BTTimer::setPauseDate(const std::optional<tw::Date>& pauseDate) {
  setValueForKey(tw::modelValue(pauseDate), BTModelKey::kPauseDate);
}

tw::Date BTTimer::computedFinishDate() const {
  const auto setting = time();
  return tw::Date{BTGetSecondsSince1970() + (setting ? setting->value() : 0.0)};
}

void BTTimer::initialize() {
  // The earlier watch ends before the new one delivers its current value.
  timeObservation_.invalidate();
  std::weak_ptr<BTTimer> weakSelf = std::static_pointer_cast<BTTimer>(shared_from_this());
  // A timer without a setting (or one whose setting went away) reads null there and shows 0.
  auto showSetting = [weakSelf](const tw::KeyValueChange& change) {
    auto timer = weakSelf.lock();
    if (!timer || timer->timingState() != tw::kTimingStateReset) return;
    timer->setTimingValue(change.newValue.doubleValue());
  };
  timeObservation_ =
      observeScoped("time.value", tw::KVOInitial | tw::KVONew, std::move(showSetting));
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
  if (key == "computedFinishDate" || key == BTModelKey::kTimingValue) return {"time.value"};
  return BTSettableTimeObject::keyPathsForValuesAffectingKey(key);
}
