#include "core/Source/ViewModels/BTTimerListItemViewModel.h"

#include "core/Source/Library/BTTime.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "platform/signals/RACSignal.h"

std::shared_ptr<RACSignal> BTTimerListItemViewModel::staticValueDescriptionSignal() {
  return timeObjectValues("time")->map([](const tw::Value& v) -> tw::Value {
    auto setting = v.objectAs<BTTimeSetting>();
    if (!setting) return std::string();
    return BTGetSimpleTimeString(
        static_cast<long>(setting->day()), static_cast<long>(setting->hour()),
        static_cast<long>(setting->minute()), static_cast<long>(setting->second()), false);
  });
}
