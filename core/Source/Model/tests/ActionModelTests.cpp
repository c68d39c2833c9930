// Actions and triggers as the rest of the system reads them: through their protocols, so that
// stored entities and unstored builders get the same defaults and report the same kinds.

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

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

// An unstored action that adopts every kind, as the editor's builder does.
class AllKindsAction : public BTDisplayAlertActionProtocol,
                       public BTCustomMessageActionProtocol,
                       public BTFlashScreenActionProtocol,
                       public BTLinkTimeObjectActionProtocol,
                       public BTRepeatActionProtocol,
                       public BTSystemEventActionProtocol,
                       public BTFileOperationActionProtocol,
                       public BTAppOperationActionProtocol,
                       public BTTestActionObject {
 public:
  std::int64_t sortOrder_ = 5, alertSound_ = 9, mode_ = 9, color_ = 9, target_ = 9, event_ = 9,
               appOp_ = 9;
  bool enabled_ = false;
  std::optional<std::string> alertMessage_ = "x", message_ = "x", file_ = "x", app_ = "x";
  std::shared_ptr<BTTimeObject> timeObject_, targetTimeObject_;
  std::shared_ptr<BTActionTriggerProtocol> trigger_;

  std::int64_t sortOrder() const override { return sortOrder_; }
  void setSortOrder(std::int64_t v) override { sortOrder_ = v; }
  bool enabled() const override { return enabled_; }
  void setEnabled(bool v) override { enabled_ = v; }
  std::shared_ptr<BTTimeObject> timeObject() const override { return timeObject_; }
  void setTimeObject(const std::shared_ptr<BTTimeObject>& v) override { timeObject_ = v; }
  std::shared_ptr<BTActionTriggerProtocol> trigger() const override { return trigger_; }
  void setTrigger(const std::shared_ptr<BTActionTriggerProtocol>& v) override { trigger_ = v; }
  std::int64_t alertSoundType() const override { return alertSound_; }
  void setAlertSoundType(std::int64_t v) override { alertSound_ = v; }
  std::optional<std::string> alertCustomMessage() const override { return alertMessage_; }
  void setAlertCustomMessage(const std::optional<std::string>& v) override { alertMessage_ = v; }
  std::int64_t customMessageMode() const override { return mode_; }
  void setCustomMessageMode(std::int64_t v) override { mode_ = v; }
  std::optional<std::string> customMessageValue() const override { return message_; }
  void setCustomMessageValue(const std::optional<std::string>& v) override { message_ = v; }
  std::int64_t screenColorArgbValue() const override { return color_; }
  void setScreenColorArgbValue(std::int64_t v) override { color_ = v; }
  std::shared_ptr<BTTimeObject> targetTimeObject() const override { return targetTimeObject_; }
  void setTargetTimeObject(const std::shared_ptr<BTTimeObject>& v) override {
    targetTimeObject_ = v;
  }
  std::int64_t targetAction() const override { return target_; }
  void setTargetAction(std::int64_t v) override { target_ = v; }
  std::int64_t systemEventType() const override { return event_; }
  void setSystemEventType(std::int64_t v) override { event_ = v; }
  std::optional<std::string> fileFilepathValue() const override { return file_; }
  void setFileFilepathValue(const std::optional<std::string>& v) override { file_ = v; }
  std::int64_t appOperationType() const override { return appOp_; }
  void setAppOperationType(std::int64_t v) override { appOp_ = v; }
  std::optional<std::string> appFilepathValue() const override { return app_; }
  void setAppFilepathValue(const std::optional<std::string>& v) override { app_ = v; }
};

// An unstored trigger of either timed kind, as the editor's trigger builder is.
class BothKindsTrigger : public BTStateTriggerProtocol, public BTTimeTriggerProtocol {
 public:
  std::int64_t from_ = 3, to_ = 3, condition_ = 3;
  double interval_ = 3;
  std::shared_ptr<BTActionObjectProtocol> action_;
  std::shared_ptr<BTActionObjectProtocol> actionObject() const override { return action_; }
  void setActionObject(const std::shared_ptr<BTActionObjectProtocol>& v) override { action_ = v; }
  bool isTriggered() const override { return false; }
  std::int64_t stateFrom() const override { return from_; }
  void setStateFrom(std::int64_t v) override { from_ = v; }
  std::int64_t stateTo() const override { return to_; }
  void setStateTo(std::int64_t v) override { to_ = v; }
  double timeInterval() const override { return interval_; }
  void setTimeInterval(double v) override { interval_ = v; }
  std::int64_t timeCondition() const override { return condition_; }
  void setTimeCondition(std::int64_t v) override { condition_ = v; }
};

class TimeOnlyTrigger : public BTTimeTriggerProtocol {
 public:
  std::int64_t condition_ = 0;
  std::shared_ptr<BTActionObjectProtocol> actionObject() const override { return nullptr; }
  void setActionObject(const std::shared_ptr<BTActionObjectProtocol>&) override {}
  bool isTriggered() const override { return false; }
  double timeInterval() const override { return 0; }
  void setTimeInterval(double) override {}
  std::int64_t timeCondition() const override { return condition_; }
  void setTimeCondition(std::int64_t v) override { condition_ = v; }
};

class ActionModelTest : public tw::test::CoreStoreTest {};

TEST_F(ActionModelTest, ABuilderOfEveryKindReceivesEveryGroupOfDefaults) {
  AllKindsAction builder;
  builder.trigger_ = std::make_shared<BothKindsTrigger>();
  BTActionObjectUtil::setDefaultValues(builder);
  EXPECT_TRUE(builder.enabled_);
  EXPECT_EQ(builder.timeObject_, nullptr);
  EXPECT_EQ(builder.trigger_, nullptr);
  EXPECT_EQ(builder.sortOrder_, LLONG_MAX);
  EXPECT_EQ(builder.alertSound_, 0);
  EXPECT_EQ(builder.alertMessage_, std::nullopt);
  EXPECT_EQ(builder.mode_, 1);
  EXPECT_EQ(builder.message_, "");
  EXPECT_EQ(builder.color_, 0xFFFFFFFFLL);
  EXPECT_EQ(builder.target_, 1);
  EXPECT_EQ(builder.event_, 1);
  EXPECT_EQ(builder.file_, std::nullopt);
  EXPECT_EQ(builder.appOp_, 1);
  EXPECT_EQ(builder.app_, std::nullopt);

  BothKindsTrigger trigger;
  trigger.action_ = std::make_shared<AllKindsAction>();
  BTActionTriggerUtil::setDefaultValues(trigger);
  EXPECT_EQ(trigger.action_, nullptr);
  EXPECT_EQ(trigger.from_, -1);
  EXPECT_EQ(trigger.to_, -1);
  EXPECT_EQ(trigger.interval_, 0.0);
  EXPECT_EQ(trigger.condition_, 0);
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

  TimeOnlyTrigger unstored;
  unstored.condition_ = 10;
  EXPECT_EQ(U::actionTriggerKindFromActionTrigger(&unstored), 4);
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
    action->setTrigger(std::make_shared<BothKindsTrigger>());
    FAIL() << "took an unstored trigger";
  } catch (const tw::Exception& e) {
    EXPECT_EQ(e.name(), tw::NSInvalidArgumentException);
  }
  auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
  EXPECT_THROW(trigger->setActionObject(std::make_shared<AllKindsAction>()), tw::Exception);
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
