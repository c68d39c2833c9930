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
#include "core/Source/Model/BTModelKeys.h"
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
      .attribute(BTModelKey::kUuid, AttributeType::String)
      .attribute(BTModelKey::kCreationDate, AttributeType::Date);

  // ----- time objects and their settings
  b.entity<BTTimeObject>("BTTimeObject", "BTManagedObject")
      .attribute(BTModelKey::kTitle, AttributeType::String)
      .attribute(BTModelKey::kTimingState, AttributeType::Int64, 0)
      .attribute(BTModelKey::kSortOrder, AttributeType::Int64, notFound)
      .transientAttribute(BTModelKey::kTimingValue, AttributeType::Double, 0.0)
      .toMany(BTModelKey::kActions, "BTActionObject", BTModelKey::kTimeObject, DeleteRule::Cascade)
      .toMany(BTModelKey::kLinkedActions, "BTLinkTimeObjectAction", BTModelKey::kTargetTimeObject,
              DeleteRule::Nullify);
  b.entity<BTSettableTimeObject>("BTSettableTimeObject", "BTTimeObject")
      .abstract()
      .toOne(BTModelKey::kTime, "BTTimeSetting", BTModelKey::kTimeObject, DeleteRule::Cascade);
  b.entity<BTTimer>("BTTimer", "BTSettableTimeObject")
      .attribute(BTModelKey::kFinishDate, AttributeType::Date)
      .attribute(BTModelKey::kPauseDate, AttributeType::Date);
  b.entity<BTAlarm>("BTAlarm", "BTSettableTimeObject")
      .toOne(BTModelKey::kWeekdays, "BTWeekdaySetting", BTModelKey::kAlarm, DeleteRule::Cascade)
      .transientAttribute(BTModelKey::kFinishDate, AttributeType::Date);
  b.entity<BTStopwatch>("BTStopwatch", "BTTimeObject")
      .attribute(BTModelKey::kStartDate, AttributeType::Date)
      .attribute(BTModelKey::kPauseDate, AttributeType::Date);
  b.entity<BTTimeSetting>("BTTimeSetting")
      .attribute(BTModelKey::kDay, AttributeType::Int64, 0)
      .attribute(BTModelKey::kHour, AttributeType::Int64, 0)
      .attribute(BTModelKey::kMinute, AttributeType::Int64, 0)
      .attribute(BTModelKey::kSecond, AttributeType::Int64, 0)
      .toOne(BTModelKey::kTimeObject, "BTSettableTimeObject", BTModelKey::kTime,
             DeleteRule::Nullify);
  b.entity<BTWeekdaySetting>("BTWeekdaySetting");
  for (const char* day : BTWeekdaySetting::weekdayKeys())
    b.attribute(day, AttributeType::Bool, false);
  b.toOne(BTModelKey::kAlarm, "BTAlarm", BTModelKey::kWeekdays, DeleteRule::Nullify);

  // ----- actions. New actions get their defaults from the builders, not from the store.
  b.entity<BTActionObject>("BTActionObject", "BTManagedObject")
      .attribute(BTModelKey::kSortOrder, AttributeType::Int64)
      .attribute(BTModelKey::kEnabled, AttributeType::Bool)
      .toOne(BTModelKey::kTimeObject, "BTTimeObject", BTModelKey::kActions, DeleteRule::Nullify)
      .toOne(BTModelKey::kTrigger, "BTActionTrigger", BTModelKey::kActionObject,
             DeleteRule::Cascade);
  b.entity<BTDisplayAlertAction>("BTDisplayAlertAction", "BTActionObject")
      .attribute(BTModelKey::kAlertSoundType, AttributeType::Int64)
      .attribute(BTModelKey::kAlertCustomMessage, AttributeType::String);
  b.entity<BTCustomMessageAction>("BTCustomMessageAction", "BTActionObject")
      .attribute(BTModelKey::kCustomMessageMode, AttributeType::Int64)
      .attribute(BTModelKey::kCustomMessageValue, AttributeType::String);
  b.entity<BTFlashScreenAction>("BTFlashScreenAction", "BTActionObject")
      .attribute(BTModelKey::kScreenColorArgbValue, AttributeType::Int64);
  b.entity<BTLinkTimeObjectAction>("BTLinkTimeObjectAction", "BTActionObject")
      .toOne(BTModelKey::kTargetTimeObject, "BTTimeObject", BTModelKey::kLinkedActions,
             DeleteRule::Nullify)
      .attribute(BTModelKey::kTargetAction, AttributeType::Int64);
  b.entity<BTRepeatAction>("BTRepeatAction", "BTActionObject");
  b.entity<BTSystemEventAction>("BTSystemEventAction", "BTActionObject")
      .attribute(BTModelKey::kSystemEventType, AttributeType::Int64);
  b.entity<BTFileOperationAction>("BTFileOperationAction", "BTActionObject")
      .attribute(BTModelKey::kFileFilepathValue, AttributeType::String);
  b.entity<BTAppOperationAction>("BTAppOperationAction", "BTActionObject")
      .attribute(BTModelKey::kAppOperationType, AttributeType::Int64)
      .attribute(BTModelKey::kAppFilepathValue, AttributeType::String);

  // ----- triggers. What a trigger has seen of its time object is kept in memory only, so every
  // trigger starts armed after a launch.
  b.entity<BTActionTrigger>("BTActionTrigger")
      .toOne(BTModelKey::kActionObject, "BTActionObject", BTModelKey::kTrigger, DeleteRule::Nullify)
      .transientAttribute(BTModelKey::kTriggered, AttributeType::Bool, false);
  b.entity<BTStateTrigger>("BTStateTrigger", "BTActionTrigger")
      .attribute(BTModelKey::kStateFrom, AttributeType::Int64)
      .attribute(BTModelKey::kStateTo, AttributeType::Int64)
      .transientAttribute(BTModelKey::kPreviousState, AttributeType::Int64, -1)
      .transientAttribute(BTModelKey::kCurrentState, AttributeType::Int64, -1);
  b.entity<BTTimeTrigger>("BTTimeTrigger", "BTActionTrigger")
      .attribute(BTModelKey::kTimeInterval, AttributeType::Double)
      .attribute(BTModelKey::kTimeCondition, AttributeType::Int64)
      .transientAttribute(BTModelKey::kMeetsTriggerPreCondition, AttributeType::Bool, false);
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
