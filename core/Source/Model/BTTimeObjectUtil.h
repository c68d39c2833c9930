#pragma once
// BTTimeObjectUtil: the localized name of a time object's kind ("alarm", "timer", "stopwatch"),
// by class (a template argument) or by an object's class. Kinds are tested in that order, so a
// subclass answers as its kind; anything else, BTTimeObject itself included, has no name.
// No state; any thread (the names come from the localized string table).

#include <optional>
#include <string>
#include <type_traits>

#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Model/BTTimer.h"

class BTTimeObjectUtil {
 public:
  BTTimeObjectUtil() = delete;

  template <class T>
  static std::optional<std::string> timeObjectTypeName() {
    return typeName(std::is_base_of_v<BTAlarm, T>, std::is_base_of_v<BTTimer, T>,
                    std::is_base_of_v<BTStopwatch, T>);
  }
  static std::optional<std::string> timeObjectTypeName(const BTTimeObject& object) {
    return typeName(object.isAlarmType(), object.isTimerType(), object.isStopwatchType());
  }

 private:
  static std::optional<std::string> typeName(bool alarm, bool timer, bool stopwatch);
};
