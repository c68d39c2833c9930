#include "core/Source/Model/BTSettableTimeObject.h"

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"
#include "core/Source/Model/BTTimeSetting.h"
#include "platform/foundation/Exception.h"

std::shared_ptr<BTTimeSetting> BTSettableTimeObject::time() const {
  return objectForKey<BTTimeSetting>(BTModelKey::kTime);
}

void BTSettableTimeObject::setTime(const std::shared_ptr<BTTimeSetting>& time) {
  setValueForKey(tw::Value(time), BTModelKey::kTime);
}

tw::Date BTSettableTimeObject::computedFinishDate() const {
  tw::raiseUnrecognizedSelector(className(), "computedFinishDate");
}

std::optional<tw::Date> BTSettableTimeObject::actualFinishDate() const {
  tw::raiseUnrecognizedSelector(className(), "actualFinishDate");
}

bool BTSettableTimeObject::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "computedFinishDate") {
    out = tw::Value(computedFinishDate());
    return true;
  }
  if (key == "actualFinishDate") {
    out = tw::modelValue(actualFinishDate());
    return true;
  }
  return BTTimeObject::getValueForKey(key, out);
}
