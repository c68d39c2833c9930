#include "core/Source/Model/BTActionTrigger.h"

#include "core/Source/Model/BTActionObject.h"
#include "platform/foundation/Exception.h"

std::shared_ptr<BTActionObjectProtocol> BTActionTrigger::actionObject() const {
  return storedActionObject();
}

std::shared_ptr<BTActionObject> BTActionTrigger::storedActionObject() const {
  return objectForKey<BTActionObject>("actionObject");
}

void BTActionTrigger::setActionObject(const std::shared_ptr<BTActionObjectProtocol>& actionObject) {
  auto stored = std::dynamic_pointer_cast<BTActionObject>(actionObject);
  if (actionObject && !stored)
    tw::raise(tw::NSInvalidArgumentException,
              "<" + className() + "> setActionObject: a stored trigger takes only a stored action");
  setValueForKey(tw::Value(stored), "actionObject");
}

void BTActionTrigger::setTriggered(bool triggered) { setValueForKey(triggered, "triggered"); }
