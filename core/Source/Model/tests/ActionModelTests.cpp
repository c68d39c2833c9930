// Actions and triggers as the rest of the system reads them: through their protocols, so that
// stored entities and unstored builders get the same defaults and report the same kinds.

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

#include "core/Source/Model/BTActionBuilder.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "core/Source/Model/BTAppOperationAction.h"
#include "core/Source/Model/BTAppOperationActionProtocol.h"
#include "core/Source/Model/BTCustomMessageAction.h"
#include "core/Source/Model/BTCustomMessageActionProtocol.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTDisplayAlertActionProtocol.h"
#include "core/Source/Model/BTFileOperationAction.h"
#include "core/Source/Model/BTFileOperationActionProtocol.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTFlashScreenActionProtocol.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTLinkTimeObjectActionProtocol.h"
#include "core/Source/Model/BTRepeatAction.h"
#include "core/Source/Model/BTRepeatActionProtocol.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTSystemEventAction.h"
#include "core/Source/Model/BTSystemEventActionProtocol.h"
#include "core/Source/Model/BTTestActionObject.h"
#include "core/Source/Model/BTTimeTrigger.h"
#include "core/Source/Model/BTTimer.h"
#include "core/testsupport/CoreStoreTest.h"
#include "platform/foundation/Exception.h"

namespace {

class ActionModelTest : public tw::test::CoreStoreTest {};

TEST_F(ActionModelTest, ABuilderOfEveryKindReceivesEveryGroupOfDefaults) {
  // The editor's builders, every field first set off its default.
  auto builder = BTActionBuilder::builderWithTimeObject(managedObject<BTTimer>());
  auto trigger = BTTriggerBuilder::builder();
  builder->setTrigger(trigger);
  builder->setEnabled(false);
  builder->setSortOrder(5);
  for (const char* key : {"alertSoundType", "customMessageMode", "screenColorArgbValue",
                          "targetAction", "systemEventType", "appOperationType"})
    builder->setValueForKey(9, key);
  for (const char* key :
       {"alertCustomMessage", "customMessageValue", "fileFilepathValue", "appFilepathValue"})
    builder->setValueForKey("x", key);
  BTActionObjectUtil::setDefaultValues(*builder);
  EXPECT_TRUE(builder->enabled());
  EXPECT_EQ(builder->timeObject(), nullptr);
  EXPECT_EQ(builder->trigger(), nullptr);
  EXPECT_EQ(builder->sortOrder(), LLONG_MAX);
  EXPECT_EQ(builder->alertSoundType(), 0);
  EXPECT_EQ(builder->alertCustomMessage(), std::nullopt);
  EXPECT_EQ(builder->customMessageMode(), 1);
  EXPECT_EQ(builder->customMessageValue(), "");
  EXPECT_EQ(builder->screenColorArgbValue(), 0xFFFFFFFFLL);
  EXPECT_EQ(builder->targetAction(), 1);
  EXPECT_EQ(builder->systemEventType(), 1);
  EXPECT_EQ(builder->fileFilepathValue(), std::nullopt);
  EXPECT_EQ(builder->appOperationType(), 1);
  EXPECT_EQ(builder->appFilepathValue(), std::nullopt);

  trigger->setActionObject(builder);
  trigger->setStateFrom(3);
  trigger->setStateTo(3);
  trigger->setTimeInterval(3);
  trigger->setTimeCondition(3);
  BTActionTriggerUtil::setDefaultValues(*trigger);
  EXPECT_EQ(trigger->actionObject(), nullptr);
  EXPECT_EQ(trigger->stateFrom(), -1);
  EXPECT_EQ(trigger->stateTo(), -1);
  EXPECT_EQ(trigger->timeInterval(), 0.0);
  EXPECT_EQ(trigger->timeCondition(), 0);
}

TEST_F(ActionModelTest, StoredActionsReceiveTheDefaultsOfTheirOwnKind) {
  auto owner = managedObject<BTTimer>();
  auto alert = BTActionObject::actionObject<BTDisplayAlertAction>();
  alert->setAlertSoundType(3);
  alert->setAlertCustomMessage("old");
  alert->setTimeObject(owner);
  alert->setTrigger(BTActionTrigger::actionTrigger<BTStateTrigger>());
  BTActionObjectUtil::setDefaultValues(alert);
  EXPECT_TRUE(alert->enabled());
  EXPECT_EQ(alert->timeObject(), nullptr);
  EXPECT_TRUE(owner->actions().empty());
  EXPECT_EQ(alert->trigger(), nullptr);
  EXPECT_EQ(alert->sortOrder(), LLONG_MAX);
  EXPECT_EQ(alert->alertSoundType(), 0);
  EXPECT_EQ(alert->alertCustomMessage(), std::nullopt);

  auto message = BTActionObject::actionObject<BTCustomMessageAction>();
  BTActionObjectUtil::setDefaultValues(message);
  EXPECT_EQ(message->customMessageMode(), 1);
  EXPECT_EQ(message->customMessageValue(), "");
  auto flash = BTActionObject::actionObject<BTFlashScreenAction>();
  BTActionObjectUtil::setDefaultValues(flash);
  EXPECT_EQ(flash->screenColorArgbValue(), 4294967295LL);
  auto link = BTActionObject::actionObject<BTLinkTimeObjectAction>();
  link->setTargetTimeObject(owner);
  BTActionObjectUtil::setDefaultValues(link);
  EXPECT_EQ(link->targetAction(), 1);
  EXPECT_EQ(link->targetTimeObject(), nullptr);
  EXPECT_TRUE(owner->linkedActions().empty());
  auto event = BTActionObject::actionObject<BTSystemEventAction>();
  BTActionObjectUtil::setDefaultValues(event);
  EXPECT_EQ(event->systemEventType(), 1);
  auto app = BTActionObject::actionObject<BTAppOperationAction>();
  app->setAppFilepathValue("/x");
  BTActionObjectUtil::setDefaultValues(app);
  EXPECT_EQ(app->appOperationType(), 1);
  EXPECT_EQ(app->appFilepathValue(), std::nullopt);
  auto repeat = BTActionObject::actionObject<BTRepeatAction>();
  BTActionObjectUtil::setDefaultValues(std::shared_ptr<BTActionObjectProtocol>(repeat));
  EXPECT_TRUE(repeat->enabled());
  BTActionObjectUtil::setDefaultValues(std::shared_ptr<BTActionObjectProtocol>());
}

TEST_F(ActionModelTest, TriggerKindsAreReadFromFieldsByProtocol) {
  using U = BTActionTriggerUtil;
  auto generic = BTActionTrigger::actionTrigger<BTActionTrigger>();
  EXPECT_EQ(U::actionTriggerKindFromActionTrigger(generic), 0);

  auto state = BTActionTrigger::actionTrigger<BTStateTrigger>();
  const struct {
    long from, to, kind;
  } states[] = {{0, 20, 1}, {20, 21, 2}, {10, 20, -1}, {-1, -1, -1}};
  for (auto s : states) {
    state->setStateFrom(s.from);
    state->setStateTo(s.to);
    EXPECT_EQ(U::actionTriggerKindFromActionTrigger(state), s.kind) << s.from << "->" << s.to;
    EXPECT_FALSE(U::isActionTrigger(state, 0)) << "a state trigger is never generic";
  }

  auto time = BTActionTrigger::actionTrigger<BTTimeTrigger>();
  const std::pair<long, long> conditions[] = {{0, 3}, {10, 4}, {5, -1}};
  for (auto [condition, kind] : conditions) {
    time->setTimeCondition(condition);
    EXPECT_EQ(U::actionTriggerKindFromActionTrigger(time), kind) << "condition " << condition;
  }
  EXPECT_FALSE(U::isActionTrigger(time, 1));

  // Unstored triggers of one kind, behind the proxy the editor's Test hands out.
  auto builder = BTTriggerBuilder::builder();
  builder->setTimeCondition(10);
  EXPECT_EQ(U::actionTriggerKindFromActionTrigger(
                builder->buildGenericActionTriggerOfType("BTTimeTrigger")),
            4);
  builder->setStateFrom(0);
  builder->setStateTo(20);
  EXPECT_EQ(U::actionTriggerKindFromActionTrigger(
                builder->buildGenericActionTriggerOfType("BTStateTrigger")),
            1);
  EXPECT_EQ(U::actionTriggerKindFromActionTrigger(builder), 1) << "both kinds: state first";
  EXPECT_EQ(U::actionTriggerKindFromActionTrigger(std::shared_ptr<BTActionTriggerProtocol>()), -1);
  EXPECT_FALSE(U::isActionTrigger(nullptr, 0));
}

TEST_F(ActionModelTest, TriggerTypesByKind) {
  using U = BTActionTriggerUtil;
  EXPECT_EQ(U::actionTriggerTypeFromActionTriggerKind(0), "BTActionTrigger");
  EXPECT_EQ(U::actionTriggerTypeFromActionTriggerKind(1), "BTStateTrigger");
  EXPECT_EQ(U::actionTriggerTypeFromActionTriggerKind(2), "BTStateTrigger");
  EXPECT_EQ(U::actionTriggerTypeFromActionTriggerKind(3), "BTTimeTrigger");
  EXPECT_EQ(U::actionTriggerTypeFromActionTriggerKind(4), "BTTimeTrigger");
  EXPECT_EQ(U::actionTriggerTypeFromActionTriggerKind(5), std::nullopt);
  EXPECT_EQ(U::actionTriggerTypeFromActionTriggerKind(-1), std::nullopt);

  auto made = U::makeActionTriggerOfKind(4);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->className(), "BTTimeTrigger");
  EXPECT_TRUE(std::dynamic_pointer_cast<BTTimeTrigger>(made));
  EXPECT_EQ(U::makeActionTriggerOfKind(0)->className(), "BTActionTrigger");
  EXPECT_EQ(U::makeActionTriggerOfKind(7), nullptr);
}

TEST_F(ActionModelTest, StoredObjectsRefuseUnstoredPartners) {
  auto action = BTActionObject::actionObject<BTRepeatAction>();
  try {
    action->setTrigger(BTTriggerBuilder::builder());
    FAIL() << "took an unstored trigger";
  } catch (const tw::Exception& e) {
    EXPECT_EQ(e.name(), tw::NSInvalidArgumentException);
  }
  auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
  EXPECT_THROW(trigger->setActionObject(BTActionBuilder::builderWithTimeObject(nullptr)),
               tw::Exception);
  EXPECT_EQ(action->trigger(), nullptr);
  EXPECT_EQ(trigger->actionObject(), nullptr);

  auto stored = BTActionTrigger::actionTrigger<BTStateTrigger>();
  action->setTrigger(stored);
  BTActionTriggerUtil::setDefaultValues(stored);  // detaches it from its action
  EXPECT_EQ(action->trigger(), nullptr);
  EXPECT_EQ(stored->stateFrom(), -1);
  EXPECT_EQ(stored->stateTo(), -1);
}

}  // namespace
