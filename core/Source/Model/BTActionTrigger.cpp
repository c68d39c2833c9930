#include "core/Source/Model/BTActionTrigger.h"

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTModelKeys.h"
#include "platform/foundation/Exception.h"

std::shared_ptr<BTActionObjectProtocol> BTActionTrigger::actionObject() const {
  return storedActionObject();
}

std::shared_ptr<BTActionObject> BTActionTrigger::storedActionObject() const {
  return objectForKey<BTActionObject>(BTModelKey::kActionObject);
}

void BTActionTrigger::setActionObject(const std::shared_ptr<BTActionObjectProtocol>& actionObject) {
  auto stored = std::dynamic_pointer_cast<BTActionObject>(actionObject);
  if (actionObject && !stored)
    tw::raise(tw::NSInvalidArgumentException,
              "<" + className() + "> setActionObject: a stored trigger takes only a stored action");
  setValueForKey(tw::Value(stored), BTModelKey::kActionObject);
}

void BTActionTrigger::setTriggered(bool triggered) {
  setValueForKey(triggered, BTModelKey::kTriggered);
}

bool BTActionTrigger::tryActivate() {
  if (isTriggered()) return false;
  // A trigger left without its action has nothing to run, as a disabled one.
  auto action = storedActionObject();
  if (!action || !action->enabled()) return false;
  if (!shouldActivateTrigger()) return false;
  setTriggered(true);
  return true;
}

void BTActionTrigger::reset() { setTriggered(false); }

bool BTActionTrigger::shouldActivateTrigger() { return true; }
