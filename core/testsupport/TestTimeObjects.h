#pragma once
// Time objects made the way the tests and benchmarks of the core need them, in the store of the
// default provider (see CoreStoreTest.h). Test and benchmark code only; main thread.

#include <memory>
#include <optional>
#include <string>

#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"

namespace tw::test {

// A new timer of `seconds` (hours, minutes and seconds filled in), titled `title` when given.
inline std::shared_ptr<BTTimer> makeTimer(long seconds,
                                          const std::optional<std::string>& title = std::nullopt) {
  auto timer = managedObject<BTTimer>();
  if (title) timer->setTitle(*title);
  auto time = managedObject<BTTimeSetting>();
  time->setHour(seconds / 3600);
  time->setMinute((seconds / 60) % 60);
  time->setSecond(seconds % 60);
  timer->setTime(time);
  return timer;
}

}  // namespace tw::test
