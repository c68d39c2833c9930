#pragma once
// BTTimeObject: the stored base of timers, alarms and stopwatches: title, running state, place
// in its kind's list, the actions it owns and the link actions of other objects that target it.
// The running state is stored, so a running object survives a restart; timingValue (the seconds
// shown) is transient and rebuilt by the object's control.
//
//   timingState: a tw::TimingState (BTTiming.h): reset, paused, running, finished.
//
// Owned by its store context; main thread only.

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Source/Model/BTManagedObject.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTSortable.h"
#include "core/Source/Model/BTTiming.h"

class BTActionObject;
class BTLinkTimeObjectAction;

class BTTimeObject : public BTManagedObject, public virtual BTTiming, public virtual BTSortable {
 public:
  // The platform's not-found index: the sort order of an object never ordered yet.
  static constexpr std::int64_t kSortOrderNotFound = std::numeric_limits<std::int64_t>::max();

  // The localized "Untitled" for nil or empty text, else the text itself.
  static std::string sanitizedTitle(const std::optional<std::string>& title);

  // Never empty: what is stored has already been sanitized.
  std::string title() const;
  void setTitle(const std::optional<std::string>& title);

  std::vector<std::shared_ptr<BTActionObject>> actions() const;
  // Set union / set minus with their change notifications; removing an absent action does
  // nothing.
  void addActionObject(const std::shared_ptr<BTActionObject>& action);
  void removeActionObject(const std::shared_ptr<BTActionObject>& action);
  std::vector<std::shared_ptr<BTLinkTimeObjectAction>> linkedActions() const;

  // BTTiming
  void setTimingStateValue(std::int64_t timingState) override;
  std::int64_t timingState() const override { return int64ForKey(BTModelKey::kTimingState); }
  void setTimingState(std::int64_t timingState) override;
  // Read within what the time record holds (see BTStoredValueClamp).
  double timingValue() const override;
  void setTimingValue(double timingValue) override;

  // BTSortable
  std::int64_t sortOrder() const override { return int64ForKey(BTModelKey::kSortOrder); }
  void setSortOrder(std::int64_t sortOrder) override;

  bool isAlarmType() const;
  bool isTimerType() const;
  bool isStopwatchType() const;
  // Running or finished.
  bool isRunning() const;

 protected:
  void awakeFromInsert() override;
  // "title" reads and writes through the sanitizing accessors, so bindings see the same text.
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;
};
