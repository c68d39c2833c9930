#include "core/Source/Timing/BTTimeObjectViewModel.h"

#include "platform/foundation/Exception.h"

BTTimeObjectViewModel::BTTimeObjectViewModel(std::shared_ptr<BTTimeObject> timeObject)
    : timeObject_(std::move(timeObject)) {}

BTTimeObjectViewModel::BTTimeObjectViewModel() {
  tw::raise(tw::NSInternalInconsistencyException,
            "Unsupported initalizer use `initWithTimeObject:` instead");
}

bool BTTimeObjectViewModel::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "timeObject") {
    out = tw::Value(timeObject_);
    return true;
  }
  return tw::Object::getValueForKey(key, out);
}
