#include "core/Source/Model/BTActionBuilder.h"

#include "core/Source/Library/Proxying/BTProxy.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "core/Source/Model/BTAppOperationAction.h"
#include "core/Source/Model/BTCustomMessageAction.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTFileOperationAction.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTManagedObject.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTRepeatAction.h"
#include "core/Source/Model/BTSystemEventAction.h"
#include "core/Source/Model/BTTimeObject.h"

namespace {

// The action's P interface; a proxy answers by what it exposes.
template <class P>
std::shared_ptr<const P> kindOf(const BTActionObjectProtocol& action) {
  if (auto* proxy = dynamic_cast<const tw::ProtocolConformer*>(&action))
    return std::dynamic_pointer_cast<const P>(proxy->implementerOf(tw::protocolOf<P>()));
  return std::shared_ptr<const P>(std::shared_ptr<const P>(), dynamic_cast<const P*>(&action));
}

// An unstored action that passes for an action of one kind only: what Test runs.
class ActionProxy : public BTProxy, public virtual BTActionObjectProtocol {
 public:
  ActionProxy(const std::shared_ptr<BTActionBuilder>& target, const tw::Protocol* protocol)
      : BTProxy(target, protocol), builder_(target) {}
  std::int64_t sortOrder() const override { return builder_->sortOrder(); }
  void setSortOrder(std::int64_t v) override { builder_->setSortOrder(v); }
  bool enabled() const override { return builder_->enabled(); }
  void setEnabled(bool v) override { builder_->setEnabled(v); }
  std::shared_ptr<BTTimeObject> timeObject() const override { return builder_->timeObject(); }
  void setTimeObject(const std::shared_ptr<BTTimeObject>& v) override {
    builder_->setTimeObject(v);
  }
  std::shared_ptr<BTActionTriggerProtocol> trigger() const override { return builder_->trigger(); }
  void setTrigger(const std::shared_ptr<BTActionTriggerProtocol>& v) override {
    builder_->setTrigger(v);
  }

 private:
  std::shared_ptr<BTActionBuilder> builder_;
};

template <class T>
std::shared_ptr<BTActionObject> insert() {
  return BTActionObject::actionObject<T>();
}

}  // namespace

std::shared_ptr<BTActionBuilder> BTActionBuilder::builderWithTimeObject(
    const std::shared_ptr<BTTimeObject>& timeObject) {
  auto b = std::make_shared<BTActionBuilder>();
  BTActionObjectUtil::setDefaultValues(*b);
  b->setTimeObject(timeObject);
  b->setTriggerBuilder(BTTriggerBuilder::builder());
  return b;
}

std::shared_ptr<BTActionBuilder> BTActionBuilder::builderWithActionObject(
    const std::shared_ptr<BTActionObjectProtocol>& action) {
  auto b = std::make_shared<BTActionBuilder>();
  BTActionObjectUtil::setDefaultValues(*b);
  if (action) b->assignFromActionObject(*action);
  b->setTriggerBuilder(
      BTTriggerBuilder::builderWithActionTrigger(action ? action->trigger() : nullptr));
  return b;
}

void BTActionBuilder::assignFromActionObject(const BTActionObjectProtocol& action) {
  if (auto* stored = dynamic_cast<const BTManagedObject*>(&action)) {
    setUuid(stored->uuid());
    setCreationDate(stored->creationDate());
  } else if (auto* builder = dynamic_cast<const BTActionBuilder*>(&action)) {
    setUuid(builder->uuid());
    setCreationDate(builder->creationDate());
  }
  setEnabled(action.enabled());
  setTimeObject(action.timeObject());
  setTrigger(action.trigger());
  setSortOrder(action.sortOrder());
  if (auto a = kindOf<BTDisplayAlertActionProtocol>(action)) {
    setAlertSoundType(a->alertSoundType());
    setAlertCustomMessage(a->alertCustomMessage());
  }
  if (auto a = kindOf<BTCustomMessageActionProtocol>(action)) {
    setCustomMessageMode(a->customMessageMode());
    setCustomMessageValue(a->customMessageValue());
  }
  if (auto a = kindOf<BTFlashScreenActionProtocol>(action))
    setScreenColorArgbValue(a->screenColorArgbValue());
  if (auto a = kindOf<BTLinkTimeObjectActionProtocol>(action)) {
    setTargetAction(a->targetAction());
    setTargetTimeObject(a->targetTimeObject());
  }
  if (auto a = kindOf<BTSystemEventActionProtocol>(action))
    setSystemEventType(a->systemEventType());
  if (auto a = kindOf<BTFileOperationActionProtocol>(action))
    setFileFilepathValue(a->fileFilepathValue());
  if (auto a = kindOf<BTAppOperationActionProtocol>(action)) {
    setAppOperationType(a->appOperationType());
    setAppFilepathValue(a->appFilepathValue());
  }
}

std::shared_ptr<BTActionBuilder> BTActionBuilder::copy() const {
  auto c = std::make_shared<BTActionBuilder>();
  c->assignFromActionObject(*this);
  return c;
}

std::optional<std::string> BTActionBuilder::triggerType() const {
  return BTActionTriggerUtil::actionTriggerTypeFromActionTriggerKind(triggerKind_);
}

std::shared_ptr<BTActionObject> BTActionBuilder::buildActionObjectOfType(
    std::string_view type) const {
  std::shared_ptr<BTActionObject> action;
  if (type == "BTDisplayAlertAction") {
    auto a = BTActionObject::actionObject<BTDisplayAlertAction>();
    a->setAlertSoundType(alertSoundType_);
    a->setAlertCustomMessage(alertCustomMessage_);
    action = a;
  } else if (type == "BTCustomMessageAction") {
    auto a = BTActionObject::actionObject<BTCustomMessageAction>();
    a->setCustomMessageMode(customMessageMode_);
    a->setCustomMessageValue(customMessageValue_);
    action = a;
  } else if (type == "BTFlashScreenAction") {
    auto a = BTActionObject::actionObject<BTFlashScreenAction>();
    a->setScreenColorArgbValue(screenColorArgbValue_);
    action = a;
  } else if (type == "BTLinkTimeObjectAction") {
    auto a = BTActionObject::actionObject<BTLinkTimeObjectAction>();
    a->setTargetAction(targetAction_);
    a->setTargetTimeObject(targetTimeObject_);
    action = a;
  } else if (type == "BTRepeatAction") {
    action = insert<BTRepeatAction>();
  } else if (type == "BTSystemEventAction") {
    auto a = BTActionObject::actionObject<BTSystemEventAction>();
    a->setSystemEventType(systemEventType_);
    action = a;
  } else if (type == "BTFileOperationAction") {
    auto a = BTActionObject::actionObject<BTFileOperationAction>();
    a->setFileFilepathValue(fileFilepathValue_);
    action = a;
  } else if (type == "BTAppOperationAction") {
    auto a = BTActionObject::actionObject<BTAppOperationAction>();
    a->setAppOperationType(appOperationType_);
    a->setAppFilepathValue(appFilepathValue_);
    action = a;
  } else {
    return nullptr;
  }
  if (uuid_) action->setUuid(uuid_);
  if (creationDate_) action->setCreationDate(creationDate_);
  action->setEnabled(enabled_);
  action->setTimeObject(timeObject_);
  const auto kindType = triggerType();
  if (triggerBuilder_ && kindType)
    if (auto trigger = triggerBuilder_->buildActionTriggerOfType(*kindType, false))
      action->setTrigger(trigger);
  action->setSortOrder(sortOrder_);
  return action;
}

std::shared_ptr<BTActionObjectProtocol> BTActionBuilder::buildGenericActionObjectOfType(
    std::string_view type) const {
  const tw::Protocol* protocol = BTActionObjectUtil::protocolForActionObjectType(type);
  if (!protocol) return nullptr;
  auto c = copy();
  const auto kindType = triggerType();
  std::shared_ptr<BTActionTriggerProtocol> trigger;
  if (triggerBuilder_ && kindType)
    trigger = triggerBuilder_->buildGenericActionTriggerOfType(*kindType);
  c->setTrigger(trigger);
  auto proxy = std::make_shared<ActionProxy>(c, protocol);
  if (trigger) trigger->setActionObject(proxy);
  return proxy;
}

// ----- setters: every change is announced, so editor views follow the builder

void BTActionBuilder::setTriggerBuilder(std::shared_ptr<BTTriggerBuilder> v) {
  setAndNotify("triggerBuilder", triggerBuilder_, std::move(v));
}
void BTActionBuilder::setTriggerKind(std::int64_t v) {
  setAndNotify("triggerKind", triggerKind_, v);
}
void BTActionBuilder::setUuid(std::optional<std::string> v) {
  setAndNotify(BTModelKey::kUuid, uuid_, std::move(v));
}
void BTActionBuilder::setCreationDate(std::optional<tw::Date> v) {
  setAndNotify(BTModelKey::kCreationDate, creationDate_, v);
}
void BTActionBuilder::setSortOrder(std::int64_t v) {
  setAndNotify(BTModelKey::kSortOrder, sortOrder_, v);
}
void BTActionBuilder::setEnabled(bool v) { setAndNotify(BTModelKey::kEnabled, enabled_, v); }
void BTActionBuilder::setTimeObject(const std::shared_ptr<BTTimeObject>& v) {
  setAndNotify(BTModelKey::kTimeObject, timeObject_, v);
}
void BTActionBuilder::setTrigger(const std::shared_ptr<BTActionTriggerProtocol>& v) {
  setAndNotify(BTModelKey::kTrigger, trigger_, v);
}
void BTActionBuilder::setAlertSoundType(std::int64_t v) {
  setAndNotify(BTModelKey::kAlertSoundType, alertSoundType_, v);
}
void BTActionBuilder::setAlertCustomMessage(const std::optional<std::string>& v) {
  setAndNotify(BTModelKey::kAlertCustomMessage, alertCustomMessage_, v);
}
void BTActionBuilder::setCustomMessageMode(std::int64_t v) {
  setAndNotify(BTModelKey::kCustomMessageMode, customMessageMode_, v);
}
void BTActionBuilder::setCustomMessageValue(const std::optional<std::string>& v) {
  setAndNotify(BTModelKey::kCustomMessageValue, customMessageValue_, v);
}
void BTActionBuilder::setScreenColorArgbValue(std::int64_t v) {
  setAndNotify(BTModelKey::kScreenColorArgbValue, screenColorArgbValue_, v);
}
void BTActionBuilder::setTargetTimeObject(const std::shared_ptr<BTTimeObject>& v) {
  setAndNotify(BTModelKey::kTargetTimeObject, targetTimeObject_, v);
}
void BTActionBuilder::setTargetAction(std::int64_t v) {
  setAndNotify(BTModelKey::kTargetAction, targetAction_, v);
}
void BTActionBuilder::setSystemEventType(std::int64_t v) {
  setAndNotify(BTModelKey::kSystemEventType, systemEventType_, v);
}
void BTActionBuilder::setFileFilepathValue(const std::optional<std::string>& v) {
  setAndNotify(BTModelKey::kFileFilepathValue, fileFilepathValue_, v);
}
void BTActionBuilder::setAppOperationType(std::int64_t v) {
  setAndNotify(BTModelKey::kAppOperationType, appOperationType_, v);
}
void BTActionBuilder::setAppFilepathValue(const std::optional<std::string>& v) {
  setAndNotify(BTModelKey::kAppFilepathValue, appFilepathValue_, v);
}

// ----- key-value coding

namespace {
tw::Value optionalText(const std::optional<std::string>& text) {
  return text ? tw::Value(*text) : tw::Value();
}
std::optional<std::string> textOf(const tw::Value& value) {
  if (const auto* s = value.string()) return *s;
  return std::nullopt;
}
}  // namespace

bool BTActionBuilder::getValueForKey(std::string_view key, tw::Value& out) const {
  const std::pair<std::string_view, std::int64_t> integers[] = {
      {BTModelKey::kSortOrder, sortOrder_},
      {BTModelKey::kAlertSoundType, alertSoundType_},
      {BTModelKey::kCustomMessageMode, customMessageMode_},
      {BTModelKey::kScreenColorArgbValue, screenColorArgbValue_},
      {BTModelKey::kTargetAction, targetAction_},
      {BTModelKey::kSystemEventType, systemEventType_},
      {BTModelKey::kAppOperationType, appOperationType_},
      {"triggerKind", triggerKind_}};
  for (const auto& [name, value] : integers)
    if (key == name) return out = value, true;
  const std::pair<std::string_view, const std::optional<std::string>*> texts[] = {
      {BTModelKey::kAlertCustomMessage, &alertCustomMessage_},
      {BTModelKey::kCustomMessageValue, &customMessageValue_},
      {BTModelKey::kFileFilepathValue, &fileFilepathValue_},
      {BTModelKey::kAppFilepathValue, &appFilepathValue_},
      {BTModelKey::kUuid, &uuid_}};
  for (const auto& [name, value] : texts)
    if (key == name) return out = optionalText(*value), true;
  if (key == BTModelKey::kEnabled) return out = enabled_, true;
  if (key == BTModelKey::kTimeObject) return out = tw::Value(timeObject_), true;
  if (key == BTModelKey::kTargetTimeObject) return out = tw::Value(targetTimeObject_), true;
  if (key == "triggerBuilder") return out = tw::Value(triggerBuilder_), true;
  if (key == BTModelKey::kTrigger)
    return out = tw::Value(std::dynamic_pointer_cast<tw::Object>(trigger_)), true;
  if (key == BTModelKey::kCreationDate)
    return out = creationDate_ ? tw::Value(*creationDate_) : tw::Value(), true;
  return tw::Object::getValueForKey(key, out);
}

bool BTActionBuilder::setValueForKeyImpl(std::string_view key, const tw::Value& value) {
  std::pair<std::string_view, std::int64_t*> integers[] = {
      {BTModelKey::kSortOrder, &sortOrder_},
      {BTModelKey::kAlertSoundType, &alertSoundType_},
      {BTModelKey::kCustomMessageMode, &customMessageMode_},
      {BTModelKey::kScreenColorArgbValue, &screenColorArgbValue_},
      {BTModelKey::kTargetAction, &targetAction_},
      {BTModelKey::kSystemEventType, &systemEventType_},
      {BTModelKey::kAppOperationType, &appOperationType_},
      {"triggerKind", &triggerKind_}};
  for (auto& [name, field] : integers)
    if (key == name) return *field = value.integerValue(), true;
  std::pair<std::string_view, std::optional<std::string>*> texts[] = {
      {BTModelKey::kAlertCustomMessage, &alertCustomMessage_},
      {BTModelKey::kCustomMessageValue, &customMessageValue_},
      {BTModelKey::kFileFilepathValue, &fileFilepathValue_},
      {BTModelKey::kAppFilepathValue, &appFilepathValue_}};
  for (auto& [name, field] : texts)
    if (key == name) return *field = textOf(value), true;
  if (key == BTModelKey::kEnabled) return enabled_ = value.boolValue(), true;
  if (key == BTModelKey::kTargetTimeObject)
    return targetTimeObject_ = value.objectAs<BTTimeObject>(), true;
  return tw::Object::setValueForKeyImpl(key, value);
}
