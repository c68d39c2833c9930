#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/tests/ObservationFixtures.h"

using namespace tw;
using namespace tw::test;

namespace {

std::shared_ptr<TimeObject> timeObjectInState(std::int64_t state) {
  auto t = std::make_shared<TimeObject>();
  t->setTimingStateValue(state);
  return t;
}

std::shared_ptr<Control> controlOf(std::shared_ptr<TimeObject> t) {
  auto c = std::make_shared<Control>();
  c->setTimingObject(std::move(t));
  return c;
}

}  // namespace

// ----- paths of several steps

TEST(KeyPathObservation, InitialOptionDeliversTheCurrentEndValueOnceAtRegistration) {
  auto control = controlOf(timeObjectInState(20));
  Recorder rec;
  auto obs =
      control->observeScoped("timingObject.timingState", KVONew | KVOInitial, rec.callback());
  ASSERT_EQ(rec.count(), 1u);
  auto c = rec.changes()[0];
  EXPECT_TRUE(c.isInitial);
  EXPECT_EQ(c.newValue, Value(20));
  EXPECT_EQ(c.object, control.get());
  EXPECT_EQ(c.keyPath, "timingObject.timingState");

  Recorder quiet;
  auto obs2 = control->observeScoped("timingObject.timingState", KVONew, quiet.callback());
  EXPECT_EQ(quiet.count(), 0u);
}

TEST(KeyPathObservation, FollowsEveryStepAndRebindsWhenAnIntermediateIsReplaced) {
  auto first = timeObjectInState(0);
  auto control = controlOf(first);
  Recorder rec;
  auto obs = control->observeScoped("timingObject.timingState", KVONew, rec.callback());

  first->setTimingState(20);
  auto second = timeObjectInState(10);
  control->setTimingObject(second);
  first->setTimingState(21);  // no longer on the path
  second->setTimingState(0);
  EXPECT_EQ(rec.integers(), (std::vector<std::int64_t>{20, 10, 0}));
}

TEST(KeyPathObservation, OldValueOfAPathIsTheEndValueBeforeAnIntermediateChange) {
  auto control = controlOf(timeObjectInState(10));
  Recorder rec;
  auto obs = control->observeScoped("timingObject.timingState", KVONew | KVOOld, rec.callback());
  control->setTimingObject(timeObjectInState(0));
  control->setTimingObject(nullptr);
  auto changes = rec.changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].oldValue, Value(10));
  EXPECT_EQ(changes[0].newValue, Value(0));
  EXPECT_EQ(changes[1].oldValue, Value(0));
  EXPECT_EQ(changes[1].newValue, Value());
}

TEST(KeyPathObservation, MissingStepDeliversNullAndRestoringRebinds) {
  auto t = timeObjectInState(20);
  auto control = controlOf(t);
  Recorder rec;
  auto obs =
      control->observeScoped("timingObject.timingState", KVONew | KVOInitial, rec.callback());

  control->setTimingObject(nullptr);
  t->setTimingState(21);  // detached: silent
  control->setTimingObject(t);
  t->setTimingState(0);
  EXPECT_EQ(rec.integers(), (std::vector<std::int64_t>{20, -1, 21, 0}));

  // Registered while the step is missing: null at first, bound once the step appears.
  auto empty = std::make_shared<Control>();
  Recorder late;
  auto obs2 =
      empty->observeScoped("timingObject.timingState", KVONew | KVOInitial, late.callback());
  empty->setTimingObject(t);
  t->setTimingState(10);
  EXPECT_EQ(late.integers(), (std::vector<std::int64_t>{-1, 0, 10}));
}

TEST(KeyPathObservation, ThreeStepPathRebindsAtEveryLevel) {
  auto t1 = timeObjectInState(0);
  auto t2 = timeObjectInState(10);
  auto a1 = std::make_shared<ActionObject>();
  auto a2 = std::make_shared<ActionObject>();
  a1->setTimeObject(t1);
  a2->setTimeObject(t2);
  auto trigger = std::make_shared<Trigger>();
  trigger->setActionObject(a1);

  Recorder rec;
  auto obs = trigger->observeScoped("actionObject.timeObject.timingState", KVONew | KVOInitial,
                                    rec.callback());
  t1->setTimingState(20);        // last step
  a1->setTimeObject(t2);         // middle step
  t1->setTimingState(21);        // t1 left the path
  trigger->setActionObject(a2);  // first step (a2 also points at t2)
  a1->setTimeObject(t1);         // a1 left the path
  t2->setTimingState(20);
  EXPECT_EQ(rec.integers(), (std::vector<std::int64_t>{0, 20, 10, 10, 20}));
}

TEST(KeyPathObservation, EveryAnnouncementNotifiesEvenWhenNothingChanged) {
  auto t = timeObjectInState(20);
  auto control = controlOf(t);
  Recorder rec;
  auto obs = control->observeScoped("timingObject.timingState", KVONew, rec.callback());
  t->setTimingState(20);
  control->setTimingObject(t);  // the same object again
  t->willChangeValueForKey("timingState");
  t->didChangeValueForKey("timingState");
  EXPECT_EQ(rec.integers(), (std::vector<std::int64_t>{20, 20, 20}));
}

TEST(KeyPathObservation, PathThroughDictionaryValueReadsTheEntry) {
  class Holder : public Object {
   public:
    Dictionary info;
    void setInfo(Dictionary d) { setAndNotify("info", info, std::move(d)); }

   protected:
    bool getValueForKey(std::string_view key, Value& out) const override {
      if (key != "info") return Object::getValueForKey(key, out);
      out = info;
      return true;
    }
  };
  auto h = std::make_shared<Holder>();
  Recorder rec;
  auto obs = h->observeScoped("info.count", KVONew | KVOInitial, rec.callback());
  h->setInfo(Dictionary{{"count", Value(3)}});
  EXPECT_EQ(rec.integers(), (std::vector<std::int64_t>{-1, 3}));
}

// ----- change brackets

TEST(ChangeBrackets, NestedBracketsDeliverOnceWithTheValueReadAtDidChange) {
  auto t = timeObjectInState(1);
  Recorder rec;
  auto obs = t->observeScoped("timingState", KVONew | KVOOld, rec.callback());

  t->willChangeValueForKey("timingState");
  t->willChangeValueForKey("timingState");
  t->setTimingStateValue(5);
  t->didChangeValueForKey("timingState");
  EXPECT_EQ(rec.count(), 0u);
  t->setTimingStateValue(7);
  t->didChangeValueForKey("timingState");

  auto changes = rec.changes();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].newValue, Value(7));
  EXPECT_EQ(changes[0].oldValue, Value(1));
  EXPECT_EQ(changes[0].kind, KeyValueChangeKind::Setting);
}

TEST(ChangeBrackets, InterleavedBracketsOfDifferentKeysEachNotify) {
  auto t = timeObjectInState(0);
  Recorder states, times;
  auto o1 = t->observeScoped("timingState", KVONew, states.callback());
  auto o2 = t->observeScoped("time", KVONew, times.callback());
  t->willChangeValueForKey("timingState");
  t->willChangeValueForKey("time");
  t->setTimingStateValue(20);
  t->didChangeValueForKey("timingState");
  t->didChangeValueForKey("time");
  EXPECT_EQ(states.count(), 1u);
  EXPECT_EQ(times.count(), 1u);
}

TEST(ChangeBrackets, SilentSetterNotifiesNobody) {
  auto t = timeObjectInState(0);
  auto control = controlOf(t);
  Recorder direct, path;
  auto o1 = t->observeScoped("timingState", KVONew, direct.callback());
  auto o2 = control->observeScoped("timingObject.timingState", KVONew, path.callback());
  t->setTimingStateValue(20);
  EXPECT_EQ(direct.count() + path.count(), 0u);
  EXPECT_EQ(control->valueForKeyPath("timingObject.timingState"), Value(20));
}

TEST(ChangeBrackets, PriorNotificationCarriesTheOldValueBeforeTheChange) {
  auto t = timeObjectInState(10);
  auto control = controlOf(t);
  Recorder rec;
  auto obs = control->observeScoped("timingObject.timingState", KVONew | KVOOld | KVOPrior,
                                    rec.callback());
  t->setTimingState(20);
  auto changes = rec.changes();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_TRUE(changes[0].isPrior);
  EXPECT_EQ(changes[0].oldValue, Value(10));
  EXPECT_FALSE(changes[1].isPrior);
  EXPECT_EQ(changes[1].oldValue, Value(10));
  EXPECT_EQ(changes[1].newValue, Value(20));
}

TEST(ChangeBrackets, SettingThroughKeyValueCodingNotifiesOnceAlsoWhenTheSetterAnnounces) {
  auto t = timeObjectInState(0);
  Recorder states, times;
  auto o1 = t->observeScoped("timingState", KVONew, states.callback());
  auto o2 = t->observeScoped("time", KVONew, times.callback());
  t->setValueForKey(Value(20), "timingState");  // its setter brackets too
  t->setValueForKey(Value(60.0), "time");       // its setter is silent
  EXPECT_EQ(states.integers(), (std::vector<std::int64_t>{20}));
  EXPECT_EQ(times.integers(), (std::vector<std::int64_t>{60}));

  // A refused key leaves no bracket open behind it.
  EXPECT_THROW(t->setValueForKey(Value(1), "bogus"), Exception);
  t->setTimingState(21);
  EXPECT_EQ(states.integers(), (std::vector<std::int64_t>{20, 21}));
}

// A value whose assignment can be made to fail, as a copy that runs out of memory would.
struct Fragile {
  int value = 0;
  bool refuse = false;
  Fragile& operator=(const Fragile& other) {
    if (other.refuse) throw std::runtime_error("assignment refused");
    value = other.value;
    return *this;
  }
};

class FragileHolder : public Object {
 public:
  void set(const Fragile& f) { setAndNotify("fragile", fragile_, f); }

 protected:
  bool getValueForKey(std::string_view key, Value& out) const override {
    if (key != "fragile") return Object::getValueForKey(key, out);
    out = fragile_.value;
    return true;
  }

 private:
  Fragile fragile_;
};

TEST(ChangeBrackets, AThrowingAssignmentAnnouncesNothingAndLeavesNoBracketOpen) {
  auto holder = std::make_shared<FragileHolder>();
  Recorder rec;
  auto obs = holder->observeScoped("fragile", KVONew | KVOPrior, rec.callback());
  EXPECT_THROW(holder->set(Fragile{5, true}), std::runtime_error);
  ASSERT_EQ(rec.count(), 1u);  // only the prior notice of the attempt
  holder->set(Fragile{7, false});
  // Had the failed bracket stayed open, this one would nest in it and stay silent.
  EXPECT_EQ(rec.integers(), (std::vector<std::int64_t>{-1, -1, 7}));

  // A change already made is announced even when the scope then ends by an exception.
  auto t = timeObjectInState(0);
  Recorder states;
  auto o = t->observeScoped("timingState", KVONew, states.callback());
  EXPECT_THROW(
      {
        ChangeScope change(*t, "timingState");
        t->setTimingStateValue(20);
        change.markChanged();
        throw std::runtime_error("after the change");
      },
      std::runtime_error);
  t->setTimingState(21);
  EXPECT_EQ(states.integers(), (std::vector<std::int64_t>{20, 21}));
}

// ----- dependent keys

TEST(DependentKeys, ChangeOfADependencyNotifiesTheDependentKey) {
  auto t = timeObjectInState(0);
  Recorder rec;
  auto obs = t->observeScoped("computedFinishDate", KVONew | KVOOld, rec.callback());
  t->setTime(60);
  auto changes = rec.changes();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].newValue, Value(1060.0));
  EXPECT_EQ(changes[0].oldValue, Value(1000.0));
}

TEST(DependentKeys, DependentKeyAtTheEndOfAPathFollowsItsObject) {
  auto first = timeObjectInState(0);
  auto control = controlOf(first);
  Recorder rec;
  auto obs = control->observeScoped("timingObject.computedFinishDate", KVONew, rec.callback());
  first->setTime(5);
  auto second = timeObjectInState(0);
  control->setTimingObject(second);
  first->setTime(6);  // off the path now
  second->setTime(7);
  EXPECT_EQ(rec.integers(), (std::vector<std::int64_t>{1005, 1000, 1007}));
}

TEST(DependentKeys, DependentKeyPathFollowsEachStepOfTheDependency) {
  auto t1 = timeObjectInState(0);
  auto t2 = timeObjectInState(20);
  auto action = std::make_shared<ActionObject>();
  action->setTimeObject(t1);
  Recorder rec;
  auto obs = action->observeScoped("running", KVONew | KVOInitial, rec.callback());

  t1->setTimingState(20);
  t1->setTimingState(21);
  action->setTimeObject(t2);
  t1->setTimingState(20);  // no longer the action's time object
  t2->setTimingState(0);
  auto changes = rec.changes();
  std::vector<bool> values;
  values.reserve(changes.size());
  for (const auto& c : changes) values.push_back(c.newValue.boolValue());
  EXPECT_EQ(values, (std::vector<bool>{false, true, false, true, false}));
}

TEST(DependentKeys, CyclicDeclarationsDoNotRecurseForever) {
  class Loop : public Object {
   protected:
    bool getValueForKey(std::string_view key, Value& out) const override {
      if (key != "a" && key != "b") return Object::getValueForKey(key, out);
      out = 1;
      return true;
    }
    std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override {
      if (key == "a") return {"b"};
      if (key == "b") return {"a"};
      return {};
    }
  };
  auto loop = std::make_shared<Loop>();
  Recorder rec;
  auto obs = loop->observeScoped("a", KVONew, rec.callback());
  loop->willChangeValueForKey("b");
  loop->didChangeValueForKey("b");
  EXPECT_GE(rec.count(), 1u);
}

// ----- to-many sets

TEST(SetMutations, UnionAndMinusDeliverInsertionAndRemovalWithTheObjects) {
  auto t = timeObjectInState(0);
  auto a = std::make_shared<ActionObject>();
  auto b = std::make_shared<ActionObject>();
  Recorder rec;
  auto obs = t->observeScoped("actionObjects", KVONew | KVOPrior, rec.callback());

  t->addActionObjects({a, b});
  t->removeActionObjects({a});
  auto changes = rec.changes();
  ASSERT_EQ(changes.size(), 4u);
  EXPECT_TRUE(changes[0].isPrior);
  EXPECT_EQ(changes[0].kind, KeyValueChangeKind::Insertion);
  EXPECT_EQ(changes[1].kind, KeyValueChangeKind::Insertion);
  EXPECT_EQ(changes[1].changedObjects, (Array{a, b}));
  EXPECT_EQ(changes[1].newValue, Value(Array{a, b}));
  EXPECT_EQ(changes[3].kind, KeyValueChangeKind::Removal);
  EXPECT_EQ(changes[3].changedObjects, (Array{a}));
  EXPECT_EQ(changes[3].newValue, Value(Array{b}));
}

TEST(SetMutations, IntersectReportsTheObjectsItTookAway) {
  auto t = timeObjectInState(0);
  auto a = std::make_shared<ActionObject>();
  auto b = std::make_shared<ActionObject>();
  auto c = std::make_shared<ActionObject>();
  t->addActionObjects({a, b, c});
  Recorder rec;
  auto obs = t->observeScoped("actionObjects", KVONew, rec.callback());
  t->keepOnlyActionObjects({b});
  auto changes = rec.changes();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].kind, KeyValueChangeKind::Removal);
  EXPECT_EQ(changes[0].changedObjects, (Array{a, c}));
}
