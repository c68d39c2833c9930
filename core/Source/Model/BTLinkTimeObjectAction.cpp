#include "core/Source/Model/BTLinkTimeObjectAction.h"

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"
#include "core/Source/Model/BTTimeObject.h"

std::shared_ptr<BTTimeObject> BTLinkTimeObjectAction::targetTimeObject() const {
  return objectForKey<BTTimeObject>(BTModelKey::kTargetTimeObject);
}

void BTLinkTimeObjectAction::setTargetTimeObject(
    const std::shared_ptr<BTTimeObject>& targetTimeObject) {
  setValueForKey(tw::Value(targetTimeObject), BTModelKey::kTargetTimeObject);
}

void BTLinkTimeObjectAction::setTargetAction(std::int64_t targetAction) {
  setValueForKey(tw::modelInt(targetAction), BTModelKey::kTargetAction);
}
