#pragma once
// Test entities shaped like the system's stored objects: a four-level chain from an abstract
// root to timers and alarms, actions and triggers with inverses, cascade and nullify rules,
// transients, and hooks that record when they ran. Test-only (also used by the store benchmark).

#include <climits>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/Clock.h"
#include "platform/store/ModelBuilder.h"

namespace tw::store::test {

class TMManagedObject : public ManagedObject {
 public:
  int insertHooks = 0;
  int fetchHooks = 0;
  int deletionHooks = 0;
  int faultHooks = 0;

 protected:
  void awakeFromInsert() override {
    ManagedObject::awakeFromInsert();
    ++insertHooks;
    static std::uint64_t counter = 0;
    setPrimitiveValueForKey("UUID-" + std::to_string(++counter), "uuid");
    setPrimitiveValueForKey(Date{clock::wallNow()}, "creationDate");
  }
  void awakeFromFetch() override {
    ManagedObject::awakeFromFetch();
    ++fetchHooks;
  }
  void prepareForDeletion() override {
    ManagedObject::prepareForDeletion();
    ++deletionHooks;
  }
  void didTurnIntoFault() override {
    ManagedObject::didTurnIntoFault();
    ++faultHooks;
  }
};

class TMTimeObject : public TMManagedObject {
 public:
  std::int64_t timingState() const { return int64ForKey("timingState"); }
  void setTimingState(std::int64_t v) {
    setValueForKey(Value(static_cast<long long>(v)), "timingState");
  }
};
class TMSettableTimeObject : public TMTimeObject {};
class TMTimer : public TMSettableTimeObject {
 public:
  // What the time setting looked like when the timer last woke, to check that partners are
  // linked before awakeFromFetch runs.
  bool hadTimeAtWake = false;

 protected:
  void awakeFromFetch() override {
    TMSettableTimeObject::awakeFromFetch();
    hadTimeAtWake = objectForKey("time") != nullptr;
  }
};
class TMAlarm : public TMSettableTimeObject {};
class TMStopwatch : public TMTimeObject {};
class TMTimeSetting : public ManagedObject {};
class TMAction : public TMManagedObject {};
class TMMessageAction : public TMAction {};
class TMLinkAction : public TMAction {};
class TMTrigger : public ManagedObject {
 public:
  int faultHooks = 0;
  bool sawTimeObjectAtWake = false;

 protected:
  void awakeFromFetch() override {
    ManagedObject::awakeFromFetch();
    sawTimeObjectAtWake = !valueForKeyPath("actionObject.timeObject").isNull();
  }
  void didTurnIntoFault() override {
    ManagedObject::didTurnIntoFault();
    ++faultHooks;
  }
};
class TMStateTrigger : public TMTrigger {};
class TMTimeTrigger : public TMTrigger {};

inline constexpr std::int64_t kNotFound = LLONG_MAX;

// Version 1 lacks what version 2 adds: TMTimeObject.note (default "none"), TMAction.priority
// (default 5) and the entity TMCounter.
inline ModelBuilder testModelBuilder(int version = 2) {
  ModelBuilder b(version);
  b.entity<TMManagedObject>("TMManagedObject")
      .abstract()
      .attribute("uuid", AttributeType::String)
      .attribute("creationDate", AttributeType::Date);
  b.entity<TMTimeObject>("TMTimeObject", "TMManagedObject")
      .attribute("title", AttributeType::String)
      .attribute("timingState", AttributeType::Int64, 0)
      .attribute("sortOrder", AttributeType::Int64, Value(static_cast<long long>(kNotFound)))
      .attribute("ratio", AttributeType::Double)
      .attribute("favourite", AttributeType::Bool, false)
      .transientAttribute("timingValue", AttributeType::Double, 0.0)
      .toMany("actions", "TMAction", "timeObject", DeleteRule::Cascade)
      .toMany("linkedActions", "TMLinkAction", "targetTimeObject", DeleteRule::Nullify);
  if (version >= 2) b.attribute("note", AttributeType::String, "none");
  b.entity<TMSettableTimeObject>("TMSettableTimeObject", "TMTimeObject")
      .abstract()
      .toOne("time", "TMTimeSetting", "timeObject", DeleteRule::Cascade);
  b.entity<TMTimer>("TMTimer", "TMSettableTimeObject")
      .attribute("finishDate", AttributeType::Date)
      .attribute("pauseDate", AttributeType::Date);
  b.entity<TMAlarm>("TMAlarm", "TMSettableTimeObject")
      .transientAttribute("finishDate", AttributeType::Date);
  b.entity<TMStopwatch>("TMStopwatch", "TMTimeObject")
      .attribute("startDate", AttributeType::Date)
      .attribute("pauseDate", AttributeType::Date);
  b.entity<TMTimeSetting>("TMTimeSetting")
      .attribute("hour", AttributeType::Int64, 0)
      .attribute("minute", AttributeType::Int64, 0)
      .toOne("timeObject", "TMSettableTimeObject", "time");
  b.entity<TMAction>("TMAction", "TMManagedObject")
      .attribute("sortOrder", AttributeType::Int64)
      .attribute("enabled", AttributeType::Bool)
      .toOne("timeObject", "TMTimeObject", "actions")
      .toOne("trigger", "TMTrigger", "actionObject", DeleteRule::Cascade);
  if (version >= 2) b.attribute("priority", AttributeType::Int64, 5);
  b.entity<TMMessageAction>("TMMessageAction", "TMAction")
      .attribute("message", AttributeType::String)
      .attribute("mode", AttributeType::Int64);
  b.entity<TMLinkAction>("TMLinkAction", "TMAction")
      .attribute("targetAction", AttributeType::Int64)
      .toOne("targetTimeObject", "TMTimeObject", "linkedActions");
  b.entity<TMTrigger>("TMTrigger")
      .toOne("actionObject", "TMAction", "trigger")
      .transientAttribute("triggered", AttributeType::Bool, false);
  b.entity<TMStateTrigger>("TMStateTrigger", "TMTrigger")
      .attribute("stateFrom", AttributeType::Int64)
      .attribute("stateTo", AttributeType::Int64);
  b.entity<TMTimeTrigger>("TMTimeTrigger", "TMTrigger")
      .attribute("timeInterval", AttributeType::Double)
      .attribute("timeCondition", AttributeType::Int64);
  if (version >= 2)
    b.entity<ManagedObject>("TMCounter").attribute("value", AttributeType::Int64, 0);
  return b;
}

inline std::shared_ptr<const Model> testModel(int version = 2) {
  return testModelBuilder(version).build();
}

}  // namespace tw::store::test
