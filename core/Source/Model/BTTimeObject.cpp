#include "core/Source/Model/BTTimeObject.h"

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTAlarm.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTModelValue.h"
#include "core/Source/Model/BTStopwatch.h"
#include "core/Source/Model/BTStoredValueClamp.h"
#include "core/Source/Model/BTTimer.h"
#include "platform/foundation/Localization.h"

std::string BTTimeObject::sanitizedTitle(const std::optional<std::string>& title) {
  if (!title || title->empty()) return tw::localized("Untitled");
  return *title;
}

std::string BTTimeObject::title() const { return sanitizedTitle(stringForKey(BTModelKey::kTitle)); }

void BTTimeObject::setTitle(const std::optional<std::string>& title) {
  setValueForKey(tw::Value(sanitizedTitle(title)), BTModelKey::kTitle);
}

std::vector<std::shared_ptr<BTActionObject>> BTTimeObject::actions() const {
  return objectsForKey<BTActionObject>(BTModelKey::kActions);
}

void BTTimeObject::addActionObject(const std::shared_ptr<BTActionObject>& action) {
  addObjectForKey(action, BTModelKey::kActions);
}

void BTTimeObject::removeActionObject(const std::shared_ptr<BTActionObject>& action) {
  removeObjectForKey(action, BTModelKey::kActions);
}

std::vector<std::shared_ptr<BTLinkTimeObjectAction>> BTTimeObject::linkedActions() const {
  return objectsForKey<BTLinkTimeObjectAction>(BTModelKey::kLinkedActions);
}

void BTTimeObject::setTimingStateValue(std::int64_t timingState) {
  setPrimitiveValueForKey(tw::modelInt(timingState), BTModelKey::kTimingState);
}

void BTTimeObject::setTimingState(std::int64_t timingState) {
  setValueForKey(tw::modelInt(timingState), BTModelKey::kTimingState);
}

double BTTimeObject::timingValue() const {
  return BTStoredValueClamp::seconds(*this, BTModelKey::kTimingValue,
                                     doubleForKey(BTModelKey::kTimingValue));
}

void BTTimeObject::setTimingValue(double timingValue) {
  setValueForKey(tw::Value(timingValue), BTModelKey::kTimingValue);
}

void BTTimeObject::setSortOrder(std::int64_t sortOrder) {
  setValueForKey(tw::modelInt(sortOrder), BTModelKey::kSortOrder);
}

bool BTTimeObject::isAlarmType() const { return dynamic_cast<const BTAlarm*>(this) != nullptr; }
bool BTTimeObject::isTimerType() const { return dynamic_cast<const BTTimer*>(this) != nullptr; }
bool BTTimeObject::isStopwatchType() const {
  return dynamic_cast<const BTStopwatch*>(this) != nullptr;
}

bool BTTimeObject::isRunning() const {
  const std::int64_t state = timingState();
  return state == tw::kTimingStateRunning || state == tw::kTimingStateFinished;
}

void BTTimeObject::awakeFromInsert() {
  BTManagedObject::awakeFromInsert();
  setTimingState(tw::kTimingStateReset);
  setTimingValue(0.0);
  setTitle(std::nullopt);
  setSortOrder(kSortOrderNotFound);
}

bool BTTimeObject::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == BTModelKey::kTitle) {
    out = tw::Value(title());
    return true;
  }
  return BTManagedObject::getValueForKey(key, out);
}

bool BTTimeObject::setValueForKeyImpl(std::string_view key, const tw::Value& value) {
  if (key == BTModelKey::kTitle && (value.isNull() || value.isString())) {
    const std::string* text = value.string();
    return BTManagedObject::setValueForKeyImpl(
        key, tw::Value(sanitizedTitle(text ? std::optional<std::string>(*text) : std::nullopt)));
  }
  return BTManagedObject::setValueForKeyImpl(key, value);
}
