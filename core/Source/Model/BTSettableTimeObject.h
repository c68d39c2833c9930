#pragma once
// BTSettableTimeObject: the abstract base of the time objects the user sets a time for: a
// duration for timers, a time of day for alarms, both held in one BTTimeSetting.
// Owned by its store context; main thread only.

#include <memory>
#include <optional>

#include "core/Source/Model/BTTimeObject.h"
#include "platform/foundation/Value.h"

class BTTimeSetting;

class BTSettableTimeObject : public BTTimeObject {
 public:
  std::shared_ptr<BTTimeSetting> time() const;
  void setTime(const std::shared_ptr<BTTimeSetting>& time);

  // When the object would finish if started now. Each kind supplies it; this base has no
  // answer and fails as an unrecognised selector.
  virtual tw::Date computedFinishDate() const;
  // When the running object finishes; again the kinds' answer.
  virtual std::optional<tw::Date> actualFinishDate() const;

 protected:
  // Offers computedFinishDate and actualFinishDate to key-value coding.
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
};
