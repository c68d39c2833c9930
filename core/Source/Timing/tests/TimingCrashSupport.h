#pragma once
// What the timing crash recovery test and the child it kills share: the timers the child leaves
// running, the finish action every timer carries, and the store of the data folder opened as the
// application opens it. Test-only.

#include <memory>
#include <string>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Services/BTCoreDataService.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "platform/foundation/Dispatch.h"

namespace tw::test {

// Durations of the timers left running, in seconds: all of them outlast the test.
inline constexpr long kRunningDurations[] = {30, 600, 7200};
// The timer started last, just before the save: it finishes after the kill.
inline constexpr long kFinishesWhileDead = 3;

inline void addFinishAction(const std::shared_ptr<BTTimeObject>& object) {
  auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
  trigger->setStateFrom(tw::kTimingStateRunning);
  trigger->setStateTo(tw::kTimingStateFinished);
  auto action = BTActionObject::actionObject<BTDisplayAlertAction>();
  action->setEnabled(true);
  action->setTrigger(trigger);
  action->setTimeObject(object);
}

// Opens the store of the data folder as the application does and makes it the default.
inline std::shared_ptr<BTCoreDataService> openStore() {
  auto service = std::make_shared<BTCoreDataService>();
  service->setup();
  tw::setDefaultCoreDataProvider(service);
  return service;
}

inline void closeStore(const std::shared_ptr<BTCoreDataService>& service) {
  tw::RunLoop::main().drain();
  service->cleanUp();
  tw::setDefaultCoreDataProvider(nullptr);
  tw::RunLoop::main().drain();
}

inline std::shared_ptr<BTTimer> storedTimer(const std::string& title) {
  for (auto& timer : tw::defaultCoreDataProvider()->objectContext()->findAll<BTTimer>())
    if (timer->title() == title) return timer;
  return nullptr;
}

}  // namespace tw::test
