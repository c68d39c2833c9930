#include "core/Source/Model/BTActionObject.h"

#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"
#include "core/Source/Model/BTTimeObject.h"
#include "platform/foundation/Exception.h"

void BTActionObject::setSortOrder(std::int64_t sortOrder) {
  setValueForKey(tw::modelInt(sortOrder), BTModelKey::kSortOrder);
}

void BTActionObject::setEnabled(bool enabled) { setValueForKey(enabled, BTModelKey::kEnabled); }

std::shared_ptr<BTTimeObject> BTActionObject::timeObject() const {
  return objectForKey<BTTimeObject>(BTModelKey::kTimeObject);
}

void BTActionObject::setTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) {
  setValueForKey(tw::Value(timeObject), BTModelKey::kTimeObject);
}

std::shared_ptr<BTActionTriggerProtocol> BTActionObject::trigger() const { return actionTrigger(); }

std::shared_ptr<BTActionTrigger> BTActionObject::actionTrigger() const {
  return objectForKey<BTActionTrigger>(BTModelKey::kTrigger);
}

void BTActionObject::setTrigger(const std::shared_ptr<BTActionTriggerProtocol>& trigger) {
  auto stored = std::dynamic_pointer_cast<BTActionTrigger>(trigger);
  if (trigger && !stored)
    tw::raise(tw::NSInvalidArgumentException,
              "<" + className() + "> setTrigger: a stored action takes only a stored trigger");
  setValueForKey(tw::Value(stored), BTModelKey::kTrigger);
}
