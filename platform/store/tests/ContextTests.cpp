#include <gtest/gtest.h>

#include <set>

#include "platform/foundation/NotificationCenter.h"
#include "platform/store/tests/StoreTestSupport.h"

namespace tw::store::test {
namespace {

using ContextIdentity = StoreTest;
using ContextRelationships = StoreTest;
using ContextDeletion = StoreTest;
using ContextChanges = StoreTest;
using ContextObservation = StoreTest;
using ContextNotification = StoreTest;

TEST_F(ContextIdentity, EveryFetchHandsOutTheSameInstanceForARow) {
  auto timer = makeTimer("one");
  auto first = context_->findAll<TMTimeObject>();
  auto second = context_->findAllWithPredicate<TMTimer>(Predicate::parse("title == 'one'"));
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(first[0].get(), timer.get());
  EXPECT_EQ(second[0].get(), timer.get());

  // Saving keeps the instance; a reopened store hands out one instance per row again.
  ASSERT_EQ(context_->save(), nullptr);
  EXPECT_EQ(context_->findAll<TMTimer>()[0].get(), timer.get());
  EXPECT_EQ(context_->existingObject(context_->model().entityFor<TMTimer>(), timer->objectID()),
            timer);
  reopen();
  auto a = context_->findAll<TMTimer>();
  auto b = context_->findAll<TMTimeObject>();
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].get(), b[0].get());
  EXPECT_EQ(a[0]->objectForKey("time")->objectForKey("timeObject"), a[0]);
}

TEST_F(ContextIdentity, InsertHookGivesIdentityAndEntityDefaults) {
  auto timer = makeTimer();
  EXPECT_EQ(timer->insertHooks, 1);
  EXPECT_TRUE(timer->stringForKey("uuid").has_value());
  EXPECT_TRUE(timer->dateForKey("creationDate").has_value());
  EXPECT_EQ(timer->int64ForKey("sortOrder"), kNotFound);
  EXPECT_EQ(timer->int64ForKey("timingState"), 0);
  EXPECT_FALSE(timer->stringForKey("title") == std::nullopt);
  EXPECT_EQ(timer->className(), "TMTimer");
  EXPECT_TRUE(timer->isInserted());
  EXPECT_THROW(context_->insertNewObject("TMSettableTimeObject"), Exception);
  EXPECT_THROW(context_->insertNewObject("NoSuchEntity"), Exception);
}

TEST_F(ContextRelationships, SettingTheToOneSideMovesTheObjectBetweenToManySets) {
  auto t1 = makeTimer("1");
  auto t2 = makeTimer("2");
  auto action = addAction(t1);
  EXPECT_TRUE(t1->containsObjectForKey(*action, "actions"));

  action->setValueForKey(t2, "timeObject");
  EXPECT_EQ(t1->countOfObjectsForKey("actions"), 0u);
  EXPECT_EQ(t2->objectsForKey("actions"), std::vector<std::shared_ptr<ManagedObject>>{action});

  action->setValueForKey(nullptr, "timeObject");
  EXPECT_EQ(t2->countOfObjectsForKey("actions"), 0u);
}

TEST_F(ContextRelationships, AddingToAToManySetTakesTheMemberFromItsPreviousOwner) {
  auto t1 = makeTimer("1");
  auto t2 = makeTimer("2");
  auto action = addAction(t1);
  t2->addObjectForKey(action, "actions");
  EXPECT_EQ(action->objectForKey("timeObject"), t2);
  EXPECT_FALSE(t1->containsObjectForKey(*action, "actions"));
  t2->addObjectForKey(action, "actions");  // already there: nothing changes
  EXPECT_EQ(t2->countOfObjectsForKey("actions"), 1u);

  t2->removeObjectForKey(action, "actions");
  EXPECT_EQ(action->objectForKey("timeObject"), nullptr);
  t2->removeObjectForKey(action, "actions");  // absent: nothing happens

  // Replacing the whole set through key-value coding keeps every inverse in step.
  auto a2 = addAction(nullptr);
  auto a3 = addAction(t1);
  t2->setValueForKey(Array{Value(action), Value(a2), Value(a3)}, "actions");
  EXPECT_EQ(t2->countOfObjectsForKey("actions"), 3u);
  EXPECT_EQ(a3->objectForKey("timeObject"), t2);
  EXPECT_EQ(t1->countOfObjectsForKey("actions"), 0u);
  t2->setValueForKey(Array{Value(a2)}, "actions");
  EXPECT_EQ(action->objectForKey("timeObject"), nullptr);
  EXPECT_EQ(a2->objectForKey("timeObject"), t2);
}

TEST_F(ContextRelationships, OneToOneDetachesBothPreviousPartners) {
  auto a1 = addAction(nullptr);
  auto a2 = addAction(nullptr);
  auto g1 = a1->objectForKey("trigger");
  auto g2 = a2->objectForKey("trigger");
  ASSERT_TRUE(g1 && g2);
  EXPECT_EQ(g1->objectForKey("actionObject"), a1);

  // a1 takes a2's trigger: a1's old trigger and a2 are left without partner.
  a1->setValueForKey(g2, "trigger");
  EXPECT_EQ(g2->objectForKey("actionObject"), a1);
  EXPECT_EQ(g1->objectForKey("actionObject"), nullptr);
  EXPECT_EQ(a2->objectForKey("trigger"), nullptr);

  // The same from the other side.
  g1->setValueForKey(a1, "actionObject");
  EXPECT_EQ(a1->objectForKey("trigger"), g1);
  EXPECT_EQ(g2->objectForKey("actionObject"), nullptr);
}

TEST_F(ContextRelationships, WrongPartnersAreRefused) {
  auto timer = makeTimer();
  auto action = addAction(timer);
  EXPECT_THROW(action->setValueForKey(context_->insertNew<TMTimeSetting>(), "timeObject"),
               Exception);
  EXPECT_THROW(action->setValueForKey("text", "timeObject"), Exception);
  EXPECT_THROW(timer->setValueForKey("not a number", "timingState"), Exception);

  auto other = Context::open(model_, ":memory:");
  auto stranger = other->insertNew<TMTimer>();
  EXPECT_THROW(action->setValueForKey(stranger, "timeObject"), Exception);

  auto gone = makeTimer();
  context_->deleteObject(gone);
  EXPECT_THROW(action->setValueForKey(gone, "timeObject"), Exception);
  EXPECT_EQ(action->objectForKey("timeObject"), timer);
}

TEST_F(ContextDeletion, CascadeDeletesDependentsAndNullifyLeavesThem) {
  auto timer = makeTimer("doomed");
  auto setting = timer->objectForKey("time");
  auto a1 = addAction(timer);
  auto a2 = addAction(timer);
  auto trigger = a1->objectForKey("trigger");
  auto other = makeTimer("other");
  auto link = context_->insertNew<TMLinkAction>();
  link->setValueForKey(other, "timeObject");
  link->setValueForKey(timer, "targetTimeObject");
  ASSERT_EQ(context_->save(), nullptr);

  context_->deleteObject(timer);
  // Cascade: the time setting, the actions and through them their triggers.
  for (auto& o : {std::static_pointer_cast<ManagedObject>(timer), setting,
                  std::static_pointer_cast<ManagedObject>(a1),
                  std::static_pointer_cast<ManagedObject>(a2), trigger})
    EXPECT_TRUE(o->isDeleted()) << o->description();
  EXPECT_EQ(timer->deletionHooks, 1);
  // Nullify: the link action stays, without its target.
  EXPECT_FALSE(link->isDeleted());
  EXPECT_EQ(link->objectForKey("targetTimeObject"), nullptr);
  EXPECT_EQ(timer->countOfObjectsForKey("linkedActions"), 0u);

  EXPECT_EQ(context_->countOf<TMAction>(), 1u);
  EXPECT_EQ(context_->countOf<TMTrigger>(), 0u);
  ASSERT_EQ(context_->save(), nullptr);
  EXPECT_TRUE(timer->isFault());
  EXPECT_EQ(timer->faultHooks, 1);
  EXPECT_EQ(static_cast<TMTrigger&>(*trigger).faultHooks, 1);

  reopen();
  EXPECT_EQ(context_->countOf<TMTimeObject>(), 1u);
  EXPECT_EQ(context_->countOf<TMTimeSetting>(), 1u);
  auto links = context_->findAll<TMLinkAction>();
  ASSERT_EQ(links.size(), 1u);
  EXPECT_EQ(links[0]->objectForKey("targetTimeObject"), nullptr);
  EXPECT_NE(links[0]->objectForKey("timeObject"), nullptr);
}

TEST_F(ContextDeletion, DeletingAnActionKeepsItsTimeObjectAndTakesItsTrigger) {
  auto timer = makeTimer();
  auto action = addAction(timer);
  auto trigger = action->objectForKey("trigger");
  context_->deleteObject(action);
  EXPECT_FALSE(timer->isDeleted());
  EXPECT_EQ(timer->countOfObjectsForKey("actions"), 0u);
  EXPECT_TRUE(trigger->isDeleted());

  // Deleting a trigger only nullifies its action's link.
  auto kept = addAction(timer);
  auto keptTrigger = kept->objectForKey("trigger");
  context_->deleteObject(keptTrigger);
  EXPECT_FALSE(kept->isDeleted());
  EXPECT_EQ(kept->objectForKey("trigger"), nullptr);

  // A deleted object is no fetch result, not even before the save.
  EXPECT_EQ(context_->countOf<TMTrigger>(), 0u);
  EXPECT_EQ(context_->countOf<TMAction>(), 1u);
}

TEST_F(ContextChanges, HasChangesIsNet) {
  auto timer = makeTimer("saved");
  ASSERT_EQ(context_->save(), nullptr);
  EXPECT_FALSE(context_->hasChanges());

  // Insert and delete again.
  auto temp = context_->insertNew<TMStopwatch>();
  EXPECT_TRUE(context_->hasChanges());
  context_->deleteObject(temp);
  EXPECT_FALSE(context_->hasChanges());
  EXPECT_EQ(context_->countOf<TMStopwatch>(), 0u);

  // A value set back to what was saved.
  timer->setValueForKey("changed", "title");
  EXPECT_TRUE(context_->hasChanges());
  EXPECT_TRUE(timer->isUpdated());
  EXPECT_EQ(timer->changedValues().count("title"), 1u);
  timer->setValueForKey("saved", "title");
  EXPECT_FALSE(context_->hasChanges());
  EXPECT_FALSE(timer->isUpdated());

  // A relationship moved and moved back; an inserted object linked and deleted again.
  auto setting = timer->objectForKey("time");
  timer->setValueForKey(nullptr, "time");
  EXPECT_TRUE(context_->hasChanges());
  timer->setValueForKey(setting, "time");
  EXPECT_FALSE(context_->hasChanges());
  auto action = addAction(timer);
  context_->deleteObject(action);
  EXPECT_FALSE(context_->hasChanges()) << context_->updatedObjects().size();

  // Primitive setters change the object too (and are saved).
  timer->setPrimitiveValueForKey(20, "timingState");
  EXPECT_TRUE(context_->hasChanges());
  ASSERT_EQ(context_->save(), nullptr);
  EXPECT_FALSE(context_->hasChanges());
  reopen();
  EXPECT_EQ(context_->findAll<TMTimer>()[0]->int64ForKey("timingState"), 20);
}

TEST_F(ContextChanges, ObjectsInsertedAndDeletedBeforeASaveLeaveEveryBookAtOnce) {
  auto kept = makeTimer("kept");
  const std::size_t registered = context_->registeredObjectCount();
  std::vector<std::weak_ptr<ManagedObject>> churned;
  for (int i = 0; i < 5000; ++i) {
    auto timer = makeTimer("churn");
    churned.push_back(timer);
    churned.push_back(timer->objectForKey("time"));
    context_->deleteObject(timer);  // cascades to its time setting
    if (i % 100 == 0) RunLoop::main().drain();
  }
  RunLoop::main().drain();
  // Nothing saved since the churn began, and nothing of it is held any more.
  EXPECT_TRUE(std::all_of(churned.begin(), churned.end(), [](auto& w) { return w.expired(); }));
  EXPECT_EQ(context_->registeredObjectCount(), registered);
  const auto inserted = context_->insertedObjects();
  EXPECT_EQ(inserted.size(), 2u);  // the kept timer and its time setting
  EXPECT_EQ(std::count(inserted.begin(), inserted.end(), kept), 1);
  EXPECT_TRUE(context_->updatedObjects().empty());
  EXPECT_TRUE(context_->deletedObjects().empty());

  // The survivors are still saved, once.
  ASSERT_EQ(context_->save(), nullptr);
  reopen();
  EXPECT_EQ(context_->countOf<TMTimer>(), 1u);
  EXPECT_EQ(context_->countOf<TMTimeSetting>(), 1u);
}

TEST_F(ContextChanges, TransientsNeverMarkChangesAndAreNotStored) {
  auto timer = makeTimer();
  auto action = addAction(timer);
  ASSERT_EQ(context_->save(), nullptr);
  RunLoop::main().drain();
  int notes = 0;
  ScopedNotificationToken token = NotificationCenter::defaultCenter()->addObserver(
      kObjectsDidChangeNotification, context_, nullptr, [&](const Notification&) { ++notes; });

  timer->setValueForKey(12.5, "timingValue");
  action->objectForKey("trigger")->setValueForKey(true, "triggered");
  EXPECT_FALSE(context_->hasChanges());
  EXPECT_FALSE(timer->isUpdated());
  RunLoop::main().drain();
  EXPECT_EQ(notes, 0);
  EXPECT_DOUBLE_EQ(timer->doubleForKey("timingValue"), 12.5);

  reopen();
  auto loaded = context_->findAll<TMTimer>()[0];
  EXPECT_DOUBLE_EQ(loaded->doubleForKey("timingValue"), 0.0);
  EXPECT_FALSE(context_->findAll<TMTrigger>()[0]->boolForKey("triggered"));
}

TEST_F(ContextObservation, AttributeSettersNotifyAndPrimitiveSettersDoNot) {
  auto timer = makeTimer("before");
  std::vector<std::pair<std::string, std::string>> seen;
  auto obs = timer->observeScoped("title", KVONew | KVOOld, [&](const KeyValueChange& c) {
    seen.emplace_back(c.oldValue.description(), c.newValue.description());
  });
  timer->setValueForKey("after", "title");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_pair(std::string("before"), std::string("after")));

  int states = 0;
  auto stateObs =
      timer->observeScoped("timingState", KVONew, [&](const KeyValueChange&) { ++states; });
  timer->setTimingState(20);
  timer->setPrimitiveValueForKey(10, "timingState");
  EXPECT_EQ(states, 1);
  EXPECT_EQ(timer->timingState(), 10);

  // Transients notify like any attribute.
  int values = 0;
  auto valueObs =
      timer->observeScoped("timingValue", KVONew, [&](const KeyValueChange&) { ++values; });
  timer->setValueForKey(3.0, "timingValue");
  EXPECT_EQ(values, 1);
}

TEST_F(ContextObservation, RelationshipChangesReachObserversOnBothSides) {
  auto t1 = makeTimer("1");
  auto t2 = makeTimer("2");
  auto action = addAction(t1);
  std::vector<KeyValueChangeKind> kinds1, kinds2;
  std::vector<ManagedObject*> changed;
  auto o1 = t1->observeScoped("actions", KVONew, [&](const KeyValueChange& c) {
    kinds1.push_back(c.kind);
    for (auto& v : c.changedObjects) changed.push_back(v.objectAs<ManagedObject>().get());
  });
  auto o2 = t2->observeScoped("actions", KVONew,
                              [&](const KeyValueChange& c) { kinds2.push_back(c.kind); });
  int owners = 0;
  auto o3 = action->observeScoped("timeObject", KVONew, [&](const KeyValueChange&) { ++owners; });

  action->setValueForKey(t2, "timeObject");
  EXPECT_EQ(kinds1, std::vector<KeyValueChangeKind>{KeyValueChangeKind::Removal});
  EXPECT_EQ(kinds2, std::vector<KeyValueChangeKind>{KeyValueChangeKind::Insertion});
  EXPECT_EQ(changed, std::vector<ManagedObject*>{action.get()});
  EXPECT_EQ(owners, 1);

  t1->addObjectForKey(action, "actions");
  EXPECT_EQ(kinds1.back(), KeyValueChangeKind::Insertion);
  EXPECT_EQ(kinds2.back(), KeyValueChangeKind::Removal);
  EXPECT_EQ(owners, 2);

  // Replacing the set through key-value coding is heard as the set mutations it makes.
  t1->setValueForKey(Array{}, "actions");
  EXPECT_EQ(kinds1.back(), KeyValueChangeKind::Removal);
  EXPECT_EQ(owners, 3);
}

TEST_F(ContextObservation, KeyPathsThroughRelationshipsFollowEveryStep) {
  // What a state trigger watches: its action's time object's running state.
  auto t1 = makeTimer("1");
  auto t2 = makeTimer("2");
  auto action = addAction(t1);
  auto trigger = action->objectForKey("trigger");
  std::vector<Value> states;
  auto obs = trigger->observeScoped("actionObject.timeObject.timingState", KVONew | KVOInitial,
                                    [&](const KeyValueChange& c) { states.push_back(c.newValue); });
  t1->setTimingState(20);
  action->setValueForKey(t2, "timeObject");  // t2 is at 0
  t2->setTimingState(21);
  t1->setTimingState(10);      // no longer on the path
  context_->deleteObject(t2);  // cascades to the action: the path breaks
  // The cascade cuts the path twice (action from timer, trigger from action): nil each time.
  ASSERT_GE(states.size(), 5u);
  EXPECT_EQ(states[0], Value(0));
  EXPECT_EQ(states[1], Value(20));
  EXPECT_EQ(states[2], Value(0));
  EXPECT_EQ(states[3], Value(21));
  for (std::size_t i = 4; i < states.size(); ++i) EXPECT_TRUE(states[i].isNull());
}

TEST_F(ContextNotification, ChangesOfOneLoopTurnArriveInOneNotification) {
  auto saved = makeTimer("saved");
  auto doomed = makeTimer("doomed");
  ASSERT_EQ(context_->save(), nullptr);
  RunLoop::main().drain();

  std::vector<Notification> received;
  ScopedNotificationToken token = NotificationCenter::defaultCenter()->addObserver(
      kObjectsDidChangeNotification, context_, nullptr,
      [&](const Notification& n) { received.push_back(n); });

  auto fresh = context_->insertNew<TMStopwatch>();
  saved->setValueForKey("renamed", "title");
  saved->setValueForKey("renamed again", "title");
  context_->deleteObject(doomed);
  auto fleeting = context_->insertNew<TMStopwatch>();
  context_->deleteObject(fleeting);
  EXPECT_TRUE(received.empty());  // not before the turn ends
  RunLoop::main().drain();

  ASSERT_EQ(received.size(), 1u);
  const Notification& n = received[0];
  EXPECT_EQ(n.object, context_);
  ASSERT_TRUE(n.userInfo.has_value());
  const Value info(*n.userInfo);
  auto objects = [&](const char* key) {
    std::set<ManagedObject*> out;
    if (const Array* a = info[key].array())
      for (const Value& v : *a) out.insert(v.objectAs<ManagedObject>().get());
    return out;
  };
  ASSERT_TRUE(info[kInsertedObjectsKey].array());
  EXPECT_EQ(objects(kInsertedObjectsKey), std::set<ManagedObject*>{fresh.get()});
  EXPECT_EQ(objects(kUpdatedObjectsKey).count(saved.get()), 1u);
  EXPECT_EQ(objects(kDeletedObjectsKey).count(doomed.get()), 1u);
  EXPECT_EQ(objects(kDeletedObjectsKey).count(fleeting.get()), 0u);
  EXPECT_TRUE(fleeting->isFault());

  // The next turn gets its own notification; a turn without changes gets none.
  saved->setValueForKey("third", "title");
  RunLoop::main().drain();
  RunLoop::main().drain();
  EXPECT_EQ(received.size(), 2u);
}

TEST_F(ContextNotification, LoadingLinksPartnersBeforeWakingObjects) {
  auto timer = makeTimer();
  addAction(timer);
  reopen();
  auto loaded = context_->findAll<TMTimer>()[0];
  EXPECT_EQ(loaded->fetchHooks, 1);
  EXPECT_TRUE(loaded->hadTimeAtWake);
  auto trigger = std::static_pointer_cast<TMTrigger>(context_->findAll<TMTrigger>()[0]);
  EXPECT_TRUE(trigger->sawTimeObjectAtWake);

  // Closing turns every object into a fault.
  context_->close();
  EXPECT_TRUE(loaded->isFault());
  EXPECT_EQ(loaded->faultHooks, 1);
  EXPECT_EQ(trigger->faultHooks, 1);
  EXPECT_EQ(loaded->objectForKey("time"), nullptr);
  context_.reset();
}

}  // namespace
}  // namespace tw::store::test
