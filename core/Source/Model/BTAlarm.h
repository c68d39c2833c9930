#pragma once
// BTAlarm: counts down to a time of day, on chosen weekdays or, with none chosen, at the next
// occurrence of that time. Its finish date is transient: the control fixes it each time the
// alarm is armed.
// Owned by its store context; main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTSettableTimeObject.h"

class BTWeekdaySetting;

class BTAlarm : public BTSettableTimeObject {
 public:
  std::shared_ptr<BTWeekdaySetting> weekdays() const;
  void setWeekdays(const std::shared_ptr<BTWeekdaySetting>& weekdays);

  // When the armed alarm rings; not stored.
  std::optional<tw::Date> finishDate() const { return dateForKey(BTModelKey::kFinishDate); }
  void setFinishDate(const std::optional<tw::Date>& finishDate);

  // The next ringing moment from now, computed afresh on every call in the user's calendar and
  // zone.
  tw::Date computedFinishDate() const override;
  std::optional<tw::Date> actualFinishDate() const override { return finishDate(); }

 protected:
  std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override;
};
