#include "core/Source/ViewModels/BTActionObjectViewModel.h"

#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTriggerUtil.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACObjectSignals.h"
#include "platform/signals/RACSignal.h"
#include "platform/signals/RACSubscriptingAssignmentTrampoline.h"

BTActionObjectViewModel::BTActionObjectViewModel(ConstructionKey,
                                                 std::shared_ptr<BTActionObject> action)
    : actionObject_(std::move(action)) {}

BTActionObjectViewModel::BTActionObjectViewModel() {
  tw::raise(tw::NSInternalInconsistencyException,
            "Unsupported initalizer use `initWithActionObject:` instead");
}

bool BTActionObjectViewModel::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "actionObject") return out = tw::Value(actionObject_), true;
  return tw::Object::getValueForKey(key, out);
}
