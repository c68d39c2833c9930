// The action and trigger builders: saving builds a new stored action of the chosen kind (keeping
// an edited action's identity), testing builds an unstored proxy of that kind whose trigger kind
// and description read through the proxy, and neither leaks nor loses its marker.

#include <gtest/gtest.h>

#include "core/Source/Model/BTActionBuilder.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "core/Source/Model/BTCustomMessageAction.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTTimeTrigger.h"
#include "core/Source/Model/BTTimer.h"
#include "core/testsupport/CoreStoreTest.h"

namespace {

using TU = BTActionTriggerUtil;

class BuilderTest : public tw::test::CoreStoreTest {
 protected:
  std::shared_ptr<BTTimer> timer(const char* title) {
    auto t = managedObject<BTTimer>();
    t->setTitle(title);
    return t;
  }
  std::shared_ptr<BTDisplayAlertAction> storedAlert(const std::shared_ptr<BTTimeObject>& owner) {
    auto action = BTActionObject::actionObject<BTDisplayAlertAction>();
    action->setAlertSoundType(2);
    action->setAlertCustomMessage("Tea");
    action->setEnabled(false);
    action->setSortOrder(4);
    action->setTimeObject(owner);
    auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
    trigger->setStateFrom(20);
    trigger->setStateTo(21);
    action->setTrigger(trigger);
    owner->addActionObject(action);
    return action;
  }
};

TEST_F(BuilderTest, EditedAlertSwitchedToCustomMessageKeepsIdentityAndStartsFromDefaults) {
  auto owner = timer("Tea");
  auto old = storedAlert(owner);
  auto builder = BTActionBuilder::builderWithActionObject(old);
  EXPECT_EQ(builder->alertSoundType(), 2);
  EXPECT_EQ(builder->triggerBuilder()->stateFrom(), 20);
  EXPECT_EQ(builder->triggerKind(), 0) << "the editor sets the kind";
  builder->setTriggerKind(TU::actionTriggerKindFromActionTrigger(old->trigger()));

  auto built = std::dynamic_pointer_cast<BTCustomMessageAction>(
      builder->buildActionObjectOfType("BTCustomMessageAction"));
  ASSERT_TRUE(built);
  EXPECT_EQ(built->customMessageMode(), 1);
  EXPECT_EQ(built->customMessageValue(), "");
  EXPECT_EQ(built->uuid(), old->uuid());
  EXPECT_EQ(built->creationDate(), old->creationDate());
  EXPECT_FALSE(built->enabled());
  EXPECT_EQ(built->timeObject(), owner);
  EXPECT_EQ(built->sortOrder(), 4);
  EXPECT_EQ(TU::actionTriggerKindFromActionTrigger(built->trigger()), 2);
  EXPECT_NE(built->trigger(), old->trigger()) << "a new stored trigger";
  EXPECT_EQ(built->actionTrigger()->actionObject(), built);
}

TEST_F(BuilderTest, NewActionGetsFreshIdentityDefaultsAndATriggerOnlyForKindsOneToFour) {
  auto owner = timer("Tea");
  auto builder = BTActionBuilder::builderWithTimeObject(owner);
  EXPECT_FALSE(builder->uuid());

  builder->setTriggerKind(4);
  builder->triggerBuilder()->setTimeCondition(10);
  builder->triggerBuilder()->setTimeInterval(60);
  auto built = builder->buildActionObjectOfType("BTDisplayAlertAction");
  ASSERT_TRUE(built);
  EXPECT_TRUE(built->uuid() && !built->uuid()->empty());
  EXPECT_EQ(built->sortOrder(), BTTimeObject::kSortOrderNotFound);
  EXPECT_TRUE(built->enabled());
  auto time = std::dynamic_pointer_cast<BTTimeTrigger>(built->trigger());
  ASSERT_TRUE(time);
  EXPECT_EQ(time->timeInterval(), 60);

  for (long kind : {0L, -1L}) {
    builder->setTriggerKind(kind);
    auto untriggered = builder->buildActionObjectOfType("BTRepeatAction");
    ASSERT_TRUE(untriggered);
    EXPECT_FALSE(untriggered->trigger()) << kind;
  }
  EXPECT_FALSE(builder->buildActionObjectOfType("BTActionObject"));
  EXPECT_FALSE(builder->buildActionObjectOfType("BTStateTrigger"));
}

TEST_F(BuilderTest, CopiesLeaveTriggerBuilderAndKindBehind) {
  auto builder = BTActionBuilder::builderWithTimeObject(timer("Tea"));
  builder->setTriggerKind(2);
  builder->setCustomMessageValue("Hello");
  auto copy = builder->copy();
  EXPECT_FALSE(copy->triggerBuilder());
  EXPECT_EQ(copy->triggerKind(), 0);
  EXPECT_EQ(copy->customMessageValue(), "Hello");
  EXPECT_EQ(copy->timeObject(), builder->timeObject());
}

TEST_F(BuilderTest, AnActionWithoutTriggerKeepsTheTriggerDefaults) {
  auto owner = timer("Tea");
  auto action = BTActionObject::actionObject<BTDisplayAlertAction>();
  action->setTimeObject(owner);
  auto builder = BTActionBuilder::builderWithActionObject(action);
  ASSERT_TRUE(builder->triggerBuilder());
  EXPECT_EQ(builder->triggerBuilder()->stateFrom(), -1);
  EXPECT_EQ(builder->triggerBuilder()->timeInterval(), 0.0);
  EXPECT_FALSE(builder->triggerBuilder()->actionObject());
}

// The tested action is a proxy of one kind with a proxied trigger; its kind, its texts and its
// test marker all read through the proxies, and the whole graph goes once the caller lets go.
TEST_F(BuilderTest, TestedActionsAreProxiesOfOneKindThatReadThroughAndDoNotLeak) {
  auto owner = managedObject<BTStopwatch>();
  owner->setTitle("Run");
  auto builder = BTActionBuilder::builderWithTimeObject(owner);
  std::weak_ptr<BTActionObjectProtocol> weakAction;
  std::weak_ptr<BTActionTriggerProtocol> weakTrigger;
  for (long kind : {1L, 3L}) {
    builder->setTriggerKind(kind);
    if (kind == 1) {
      builder->triggerBuilder()->setStateFrom(0);
      builder->triggerBuilder()->setStateTo(20);
    } else {
      builder->triggerBuilder()->setTimeCondition(0);
      builder->triggerBuilder()->setTimeInterval(90);
    }
    auto action = builder->buildGenericActionObjectOfType("BTCustomMessageAction");
    ASSERT_TRUE(action);
    EXPECT_TRUE(tw::conformsTo<BTCustomMessageActionProtocol>(action));
    EXPECT_FALSE(tw::conformsTo<BTDisplayAlertActionProtocol>(action));
    auto trigger = action->trigger();
    ASSERT_TRUE(trigger);
    EXPECT_FALSE(dynamic_cast<BTStateTriggerProtocol*>(trigger.get()));
    EXPECT_EQ(TU::actionTriggerKindFromActionTrigger(trigger), kind) << "kind through the proxy";
    EXPECT_EQ(trigger->actionObject(), action);
    EXPECT_TRUE(TU::actionTriggerDescription(trigger)) << kind;
    EXPECT_TRUE(BTActionObjectUtil::actionObjectDescription(action));
    EXPECT_EQ(builder->trigger(), nullptr) << "the builder itself is untouched";
    weakAction = action;
    weakTrigger = trigger;
  }
  EXPECT_TRUE(weakAction.expired());
  EXPECT_TRUE(weakTrigger.expired());
  EXPECT_FALSE(builder->buildGenericActionObjectOfType("BTActionObject"));
  builder->setTriggerKind(0);
  auto untriggered = builder->buildGenericActionObjectOfType("BTFlashScreenAction");
  ASSERT_TRUE(untriggered);
  EXPECT_FALSE(untriggered->trigger());
}

TEST_F(BuilderTest, BuildersAreObservableForBoundViews) {
  auto builder = BTActionBuilder::builderWithTimeObject(timer("Tea"));
  int heard = 0;
  auto observation = builder->observeScoped("triggerBuilder.timeInterval", tw::KVONew,
                                            [&](const tw::KeyValueChange&) { ++heard; });
  builder->triggerBuilder()->setTimeInterval(5);
  builder->setValueForKey(3, "customMessageMode");
  EXPECT_EQ(heard, 1);
  EXPECT_EQ(builder->customMessageMode(), 3);
  EXPECT_EQ(builder->valueForKeyPath("triggerBuilder.timeInterval").doubleValue(), 5.0);
}

}  // namespace
