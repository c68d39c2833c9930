#include "app/tests/SampleData.h"

#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTCustomMessageAction.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Model/BTWeekdaySetting.h"
#include "core/Source/Services/BTCoreDataProvider.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/Timing/BTTimeObjectControlViewModel.h"
#include "core/Source/Timing/BTTimingController.h"
#include "platform/inject/Injection.h"

namespace tw::app::sample {

void insert(const std::vector<Entry>& entries) {
  auto timing = tw::defaultComponentForType<BTTimingController>();
  std::vector<std::shared_ptr<BTTimeObject>> toStart;
  std::int64_t order = 0;
  for (const auto& entry : entries) {
    std::shared_ptr<BTTimeObject> object;
    if (entry.kind == 0) {
      auto alarm = managedObject<BTAlarm>();
      auto time = managedObject<BTTimeSetting>();
      time->setHour(7);
      time->setMinute(entry.minutes % 60);
      alarm->setTime(time);
      auto weekdays = managedObject<BTWeekdaySetting>();
      weekdays->setAllWeekdays();
      alarm->setWeekdays(weekdays);
      object = alarm;
    } else if (entry.kind == 1) {
      auto timer = managedObject<BTTimer>();
      auto time = managedObject<BTTimeSetting>();
      time->setHour(entry.minutes / 60);
      time->setMinute(entry.minutes % 60);
      timer->setTime(time);
      object = timer;
    } else {
      object = managedObject<BTStopwatch>();
    }
    object->setTitle(entry.title);
    object->setSortOrder(order++);
    if (entry.running) toStart.push_back(object);
  }
  if (timing)
    for (const auto& object : toStart)
      if (auto control = timing->timingControlForTimingObject(object)) control->start();
  tw::defaultCoreDataProvider()->save();
}

void insertShowcase() {
  insert({{"Wake up", 0, 0, false},
          {"Stand-up meeting", 0, 30, false},
          {"Pick up the kids", 0, 45, false},
          {"Tea", 1, 4, true},
          {"Pasta", 1, 11, false},
          {"Pomodoro", 1, 25, false},
          {"Laundry", 1, 62, false},
          {"Run", 2, 0, true},
          {"Plank", 2, 0, false}});
}

void insertTimers(int count, int running) {
  std::vector<Entry> entries;
  entries.reserve(count);
  for (int i = 0; i < count; ++i)
    entries.push_back({"Timer " + std::to_string(i + 1), 1, 5 + i % 50, i < running});
  insert(entries);
}

namespace {
std::shared_ptr<BTTimeObject> findObject(const std::string& title) {
  for (const auto& object : tw::defaultCoreDataProvider()->objectContext()->findAll<BTTimeObject>())
    if (object->title() == title) return object;
  return nullptr;
}
}  // namespace

void insertSampleActions() {
  auto tea = findObject("Tea");
  if (!tea) return;
  const auto add = [&](std::shared_ptr<BTActionObject> action, long from, long to, bool on) {
    BTActionObjectUtil::setDefaultValues(*action);
    auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
    trigger->setStateFrom(from);
    trigger->setStateTo(to);
    action->setTrigger(trigger);
    action->setEnabled(on);
    action->setSortOrder(static_cast<std::int64_t>(tea->actions().size()));
    action->setTimeObject(tea);
    tea->addActionObject(action);
    return action;
  };
  add(BTActionObject::actionObject<BTDisplayAlertAction>(), 20, 21, true);
  auto message = BTActionObject::actionObject<BTCustomMessageAction>();
  add(message, 20, 21, true);
  message->setCustomMessageValue(std::string("Tea is ready"));
  message->setCustomMessageMode(3);
  add(BTActionObject::actionObject<BTFlashScreenAction>(), 20, 21, false);
  auto l = BTActionObject::actionObject<BTLinkTimeObjectAction>();
  add(l, 0, 20, true);
  l->setTargetTimeObject(findObject("Pasta"));
  l->setTargetAction(1);
  tw::defaultCoreDataProvider()->save();
}

}  // namespace tw::app::sample
