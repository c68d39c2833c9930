#include "core/Source/Model/BTTriggerBuilder.h"

#include "core/Source/Library/Proxying/BTProxy.h"
#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTTimeTrigger.h"

namespace {

// The trigger's P interface; a proxy answers by what it exposes.
template <class P>
std::shared_ptr<const P> kindOf(const BTActionTriggerProtocol* trigger) {
  if (auto* proxy = dynamic_cast<const tw::ProtocolConformer*>(trigger))
    return std::dynamic_pointer_cast<const P>(proxy->implementerOf(tw::protocolOf<P>()));
  return std::shared_ptr<const P>(std::shared_ptr<const P>(), dynamic_cast<const P*>(trigger));
}

// An unstored trigger that passes for a trigger of one kind only: what a tested action carries.
class TriggerProxy : public BTProxy, public virtual BTActionTriggerProtocol {
 public:
  TriggerProxy(const std::shared_ptr<BTTriggerBuilder>& target, const tw::Protocol* protocol)
      : BTProxy(target, protocol), builder_(target) {}
  std::shared_ptr<BTActionObjectProtocol> actionObject() const override {
    return builder_->actionObject();
  }
  void setActionObject(const std::shared_ptr<BTActionObjectProtocol>& action) override {
    builder_->setActionObject(action);
  }
  bool isTriggered() const override { return builder_->isTriggered(); }

 private:
  std::shared_ptr<BTTriggerBuilder> builder_;
};

}  // namespace

std::shared_ptr<BTTriggerBuilder> BTTriggerBuilder::builder() {
  return std::make_shared<BTTriggerBuilder>();
}

std::shared_ptr<BTTriggerBuilder> BTTriggerBuilder::builderWithActionTrigger(
    const std::shared_ptr<BTActionTriggerProtocol>& trigger) {
  auto b = builder();
  b->assignFromActionTrigger(trigger.get());
  return b;
}

void BTTriggerBuilder::assignFromActionTrigger(const BTActionTriggerProtocol* trigger) {
  // An action without a trigger (kind 0 or -1 in the editor) leaves the defaults alone.
  if (!trigger) return;
  setActionObject(trigger->actionObject());
  setTriggered(trigger->isTriggered());
  if (auto state = kindOf<BTStateTriggerProtocol>(trigger)) {
    setStateFrom(state->stateFrom());
    setStateTo(state->stateTo());
  }
  if (auto time = kindOf<BTTimeTriggerProtocol>(trigger)) {
    setTimeInterval(time->timeInterval());
    setTimeCondition(time->timeCondition());
  }
}

std::shared_ptr<BTTriggerBuilder> BTTriggerBuilder::copy() const {
  auto c = std::make_shared<BTTriggerBuilder>();
  c->assignFromActionTrigger(this);
  return c;
}

std::shared_ptr<BTActionTrigger> BTTriggerBuilder::buildActionTriggerOfType(std::string_view type,
                                                                            bool linkAction) const {
  std::shared_ptr<BTActionTrigger> trigger;
  if (type == "BTStateTrigger") {
    auto state = BTActionTrigger::actionTrigger<BTStateTrigger>();
    state->setStateFrom(stateFrom_);
    state->setStateTo(stateTo_);
    trigger = state;
  } else if (type == "BTTimeTrigger") {
    auto time = BTActionTrigger::actionTrigger<BTTimeTrigger>();
    time->setTimeInterval(timeInterval_);
    time->setTimeCondition(timeCondition_);
    trigger = time;
  } else {
    return nullptr;
  }
  // A stored trigger can only point at a stored action.
  if (linkAction)
    if (auto stored = std::dynamic_pointer_cast<BTActionObject>(actionObject()))
      trigger->setActionObject(stored);
  trigger->setTriggered(triggered_);
  return trigger;
}

std::shared_ptr<BTActionTriggerProtocol> BTTriggerBuilder::buildGenericActionTriggerOfType(
    std::string_view type) const {
  const tw::Protocol* protocol = BTActionTriggerUtil::protocolForActionTriggerType(type);
  if (!protocol) return nullptr;
  return std::make_shared<TriggerProxy>(copy(), protocol);
}

void BTTriggerBuilder::setActionObject(const std::shared_ptr<BTActionObjectProtocol>& action) {
  willChangeValueForKey(BTModelKey::kActionObject);
  actionObject_ = action;
  didChangeValueForKey(BTModelKey::kActionObject);
}
void BTTriggerBuilder::setTriggered(bool v) { setAndNotify(BTModelKey::kTriggered, triggered_, v); }
void BTTriggerBuilder::setStateFrom(std::int64_t v) {
  setAndNotify(BTModelKey::kStateFrom, stateFrom_, v);
}
void BTTriggerBuilder::setStateTo(std::int64_t v) {
  setAndNotify(BTModelKey::kStateTo, stateTo_, v);
}
void BTTriggerBuilder::setTimeInterval(double v) {
  setAndNotify(BTModelKey::kTimeInterval, timeInterval_, v);
}
void BTTriggerBuilder::setTimeCondition(std::int64_t v) {
  setAndNotify(BTModelKey::kTimeCondition, timeCondition_, v);
}

bool BTTriggerBuilder::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == BTModelKey::kActionObject) {
    out = tw::Value(std::dynamic_pointer_cast<tw::Object>(actionObject()));
  } else if (key == BTModelKey::kTriggered || key == "isTriggered") {
    out = triggered_;
  } else if (key == BTModelKey::kStateFrom) {
    out = stateFrom_;
  } else if (key == BTModelKey::kStateTo) {
    out = stateTo_;
  } else if (key == BTModelKey::kTimeInterval) {
    out = timeInterval_;
  } else if (key == BTModelKey::kTimeCondition) {
    out = timeCondition_;
  } else {
    return tw::Object::getValueForKey(key, out);
  }
  return true;
}

bool BTTriggerBuilder::setValueForKeyImpl(std::string_view key, const tw::Value& value) {
  if (key == BTModelKey::kTriggered) {
    triggered_ = value.boolValue();
  } else if (key == BTModelKey::kStateFrom) {
    stateFrom_ = value.integerValue();
  } else if (key == BTModelKey::kStateTo) {
    stateTo_ = value.integerValue();
  } else if (key == BTModelKey::kTimeInterval) {
    timeInterval_ = value.doubleValue();
  } else if (key == BTModelKey::kTimeCondition) {
    timeCondition_ = value.integerValue();
  } else {
    return tw::Object::setValueForKeyImpl(key, value);
  }
  return true;
}
