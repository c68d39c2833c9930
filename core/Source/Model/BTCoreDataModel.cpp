#include "core/Source/Model/BTCoreDataModel.h"

#include <mutex>
#include <utility>
#include <vector>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTAppOperationAction.h"
#include "core/Source/Model/BTCustomMessageAction.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTFileOperationAction.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTManagedObject.h"
#include "core/Source/Model/BTRepeatAction.h"
#include "core/Source/Model/BTSettableTimeObject.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTSystemEventAction.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "core/Source/Model/BTTimeTrigger.h"
#include "core/Source/Model/BTTimer.h"
#include "core/Source/Model/BTWeekdaySetting.h"

namespace tw {

using store::AttributeType;
using store::DeleteRule;

void declareCoreEntities(store::ModelBuilder& b) {
  const Value notFound(static_cast<long long>(BTTimeObject::kSortOrderNotFound));

  b.entity<BTManagedObject>("BTManagedObject")
      .abstract()
      .attribute("uuid", AttributeType::String)
      .attribute("creationDate", AttributeType::Date);

  // ----- time objects and their settings
  b.entity<BTTimeObject>("BTTimeObject", "BTManagedObject")
      .attribute("title", AttributeType::String)
      .attribute("timingState", AttributeType::Int64, 0)
      .attribute("sortOrder", AttributeType::Int64, notFound)
      .transientAttribute("timingValue", AttributeType::Double, 0.0)
      .toMany("actions", "BTActionObject", "timeObject", DeleteRule::Cascade)
      .toMany("linkedActions", "BTLinkTimeObjectAction", "targetTimeObject", DeleteRule::Nullify);
  b.entity<BTSettableTimeObject>("BTSettableTimeObject", "BTTimeObject")
      .abstract()
      .toOne("time", "BTTimeSetting", "timeObject", DeleteRule::Cascade);
  b.entity<BTTimer>("BTTimer", "BTSettableTimeObject")
      .attribute("finishDate", AttributeType::Date)
      .attribute("pauseDate", AttributeType::Date);
  b.entity<BTAlarm>("BTAlarm", "BTSettableTimeObject")
      .toOne("weekdays", "BTWeekdaySetting", "alarm", DeleteRule::Cascade)
      .transientAttribute("finishDate", AttributeType::Date);
  b.entity<BTStopwatch>("BTStopwatch", "BTTimeObject")
      .attribute("startDate", AttributeType::Date)
      .attribute("pauseDate", AttributeType::Date);
  b.entity<BTTimeSetting>("BTTimeSetting")
      .attribute("day", AttributeType::Int64, 0)
      .attribute("hour", AttributeType::Int64, 0)
      .attribute("minute", AttributeType::Int64, 0)
      .attribute("second", AttributeType::Int64, 0)
      .toOne("timeObject", "BTSettableTimeObject", "time", DeleteRule::Nullify);
  b.entity<BTWeekdaySetting>("BTWeekdaySetting");
  for (const char* day : BTWeekdaySetting::weekdayKeys())
    b.attribute(day, AttributeType::Bool, false);
  b.toOne("alarm", "BTAlarm", "weekdays", DeleteRule::Nullify);

  // ----- actions. New actions get their defaults from the builders, not from the store.
  b.entity<BTActionObject>("BTActionObject", "BTManagedObject")
      .attribute("sortOrder", AttributeType::Int64)
      .attribute("enabled", AttributeType::Bool)
      .toOne("timeObject", "BTTimeObject", "actions", DeleteRule::Nullify)
      .toOne("trigger", "BTActionTrigger", "actionObject", DeleteRule::Cascade);
  b.entity<BTDisplayAlertAction>("BTDisplayAlertAction", "BTActionObject")
      .attribute("alertSoundType", AttributeType::Int64)
      .attribute("alertCustomMessage", AttributeType::String);
  b.entity<BTCustomMessageAction>("BTCustomMessageAction", "BTActionObject")
      .attribute("customMessageMode", AttributeType::Int64)
      .attribute("customMessageValue", AttributeType::String);
  b.entity<BTFlashScreenAction>("BTFlashScreenAction", "BTActionObject")
      .attribute("screenColorArgbValue", AttributeType::Int64);
  b.entity<BTLinkTimeObjectAction>("BTLinkTimeObjectAction", "BTActionObject")
      .toOne("targetTimeObject", "BTTimeObject", "linkedActions", DeleteRule::Nullify)
      .attribute("targetAction", AttributeType::Int64);
  b.entity<BTRepeatAction>("BTRepeatAction", "BTActionObject");
  b.entity<BTSystemEventAction>("BTSystemEventAction", "BTActionObject")
      .attribute("systemEventType", AttributeType::Int64);
  b.entity<BTFileOperationAction>("BTFileOperationAction", "BTActionObject")
      .attribute("fileFilepathValue", AttributeType::String);
  b.entity<BTAppOperationAction>("BTAppOperationAction", "BTActionObject")
      .attribute("appOperationType", AttributeType::Int64)
      .attribute("appFilepathValue", AttributeType::String);

  // ----- triggers. What a trigger has seen of its time object is kept in memory only, so every
  // trigger starts armed after a launch.
  b.entity<BTActionTrigger>("BTActionTrigger")
      .toOne("actionObject", "BTActionObject", "trigger", DeleteRule::Nullify)
      .transientAttribute("triggered", AttributeType::Bool, false);
  b.entity<BTStateTrigger>("BTStateTrigger", "BTActionTrigger")
      .attribute("stateFrom", AttributeType::Int64)
      .attribute("stateTo", AttributeType::Int64)
      .transientAttribute("previousState", AttributeType::Int64, -1)
      .transientAttribute("currentState", AttributeType::Int64, -1);
  b.entity<BTTimeTrigger>("BTTimeTrigger", "BTActionTrigger")
      .attribute("timeInterval", AttributeType::Double)
      .attribute("timeCondition", AttributeType::Int64)
      .transientAttribute("meetsTriggerPreCondition", AttributeType::Bool, false);
}

std::shared_ptr<const store::Model> buildCoreModel() {
  store::ModelBuilder builder(kCoreModelVersion);
  declareCoreEntities(builder);
  return builder.build();
}

namespace {
struct Contributions {
  std::mutex mutex;
  std::vector<std::pair<std::int64_t, ModelContribution>> list;
};
Contributions& contributions() {
  static Contributions c;
  return c;
}
}  // namespace

void addModelContribution(std::int64_t version, ModelContribution declare) {
  auto& c = contributions();
  std::lock_guard lock(c.mutex);
  c.list.emplace_back(version, std::move(declare));
}

void removeAllModelContributions() {
  auto& c = contributions();
  std::lock_guard lock(c.mutex);
  c.list.clear();
}

std::shared_ptr<const store::Model> buildMergedModel() {
  std::vector<std::pair<std::int64_t, ModelContribution>> list;
  {
    auto& c = contributions();
    std::lock_guard lock(c.mutex);
    list = c.list;
  }
  std::int64_t version = kCoreModelVersion;
  for (const auto& [v, declare] : list) version += v;
  store::ModelBuilder builder(version);
  declareCoreEntities(builder);
  for (const auto& [v, declare] : list)
    if (declare) declare(builder);
  return builder.build();
}

}  // namespace tw
