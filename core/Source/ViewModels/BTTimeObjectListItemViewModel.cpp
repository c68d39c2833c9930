#include "core/Source/ViewModels/BTTimeObjectListItemViewModel.h"

#include <algorithm>
#include <cmath>

#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Format.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"
#include "platform/signals/RACSubscriptingAssignmentTrampoline.h"

namespace {

constexpr std::int64_t kPaused = tw::kTimingStatePaused;
constexpr std::int64_t kRunning = tw::kTimingStateRunning;

}  // namespace

BTTimeObjectListItemViewModel::BTTimeObjectListItemViewModel(
    ConstructionKey, std::shared_ptr<BTTimeObject> timeObject)
    : BTTimeObjectViewModel(std::move(timeObject)) {}

void BTTimeObjectListItemViewModel::bindViewModel() {
  TW_MAIN_THREAD_ONLY("BTTimeObjectListItemViewModel::bindViewModel");
  auto self = shared_from_this();
  // Built once: the dynamic text falls back on the same static text.
  staticSignal_ = staticValueDescriptionSignal();
  RAC(self, "staticValueDescription") = staticSignal_;
  RAC(self, "dynamicValueDescription") = dynamicValueDescriptionSignal();
  RAC(self, "dynamicValueDescriptionHidden") = dynamicValueDescriptionHiddenSignal();
  RAC(self, "stateColor") = stateColorSignal();
}

std::shared_ptr<RACSignal> BTTimeObjectListItemViewModel::timeObjectValues(const char* key) {
  // The time object never changes: observing it directly spares a step per observation.
  return rac_valuesForKeyPath(timeObject(), key, shared_from_this());
}

std::string BTTimeObjectListItemViewModel::runningValueText(double seconds) {
  const BTTime t = BTTimeMakeWithSeconds(std::max(0.0, std::isnan(seconds) ? 0.0 : seconds));
  if (t.day > 0)
    return tw::format("%ld:%02ld:%02ld:%02ld", long{t.day}, long{t.hour}, long{t.minute},
                      long{t.second});
  if (t.hour > 0)
    return tw::format("%ld:%02ld:%02ld", long{t.hour}, long{t.minute}, long{t.second});
  return tw::format("%02ld:%02ld", long{t.minute}, long{t.second});
}

std::shared_ptr<RACSignal> BTTimeObjectListItemViewModel::staticValueDescriptionSignal() {
  return RACSignal::returnValue(std::string());
}

std::shared_ptr<RACSignal> BTTimeObjectListItemViewModel::dynamicValueDescriptionSignal() {
  auto self = shared_from_this();
  // The static text as already bound: one observation of this object rather than a second walk
  // down to the time setting.
  auto staticText = staticSignal_ ? rac_valuesForKeyPath(self, "staticValueDescription", self)
                                  : staticValueDescriptionSignal();
  return RACSignal::combineLatest(
      {timeObjectValues("timingValue"), timeObjectValues("timingState"), staticText},
      [](const tw::Value& value, const tw::Value& state, const tw::Value& text) -> tw::Value {
        if (state.integerValue() == tw::kTimingStateReset)
          return text.string() ? *text.string() : std::string();
        return runningValueText(value.doubleValue());
      });
}

std::shared_ptr<RACSignal> BTTimeObjectListItemViewModel::dynamicValueDescriptionHiddenSignal() {
  return timeObjectValues("timingState")->map([](const tw::Value& v) {
    return tw::Value(v.integerValue() == tw::kTimingStateReset);
  });
}

std::shared_ptr<RACSignal> BTTimeObjectListItemViewModel::stateColorSignalWithPausedColor(
    const char* pausedColor) {
  return timeObjectValues("timingState")->map([pausedColor](const tw::Value& v) -> tw::Value {
    switch (v.integerValue()) {
      case kPaused:
        return pausedColor;
      case kRunning:
        return "TimingStateGreen";
      default:
        return "OverlayDark30";
    }
  });
}

std::shared_ptr<RACSignal> BTTimeObjectListItemViewModel::stateColorSignal() {
  return stateColorSignalWithPausedColor("TimingStateYellow");
}

bool BTTimeObjectListItemViewModel::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "staticValueDescription") return out = staticValueDescription_, true;
  if (key == "dynamicValueDescription") return out = dynamicValueDescription_, true;
  if (key == "dynamicValueDescriptionHidden") return out = dynamicValueDescriptionHidden_, true;
  if (key == "stateColor") {
    const auto color = stateColor();
    out = color ? tw::Value(std::int64_t{color->argb()}) : tw::Value();
    return true;
  }
  return BTTimeObjectViewModel::getValueForKey(key, out);
}

bool BTTimeObjectListItemViewModel::setValueForKeyImpl(std::string_view key,
                                                       const tw::Value& value) {
  auto text = [&] { return value.string() ? *value.string() : std::string(); };
  if (key == "staticValueDescription") return staticValueDescription_ = text(), true;
  if (key == "dynamicValueDescription") return dynamicValueDescription_ = text(), true;
  if (key == "dynamicValueDescriptionHidden")
    return dynamicValueDescriptionHidden_ = value.boolValue(), true;
  if (key == "stateColor") return stateColorName_ = text(), true;
  return BTTimeObjectViewModel::setValueForKeyImpl(key, value);
}
