#pragma once
// BTTimeSetting: the time a user sets on a timer (a duration) or an alarm (a time of day), as
// day, hour, minute and second, plus the same in seconds (value). Each field is read within what
// a 16-bit time field holds (0 to 65535; a stored number beyond is logged and read as the nearer
// end), so value, the texts and the time record agree everywhere.
// Owned by its store context and by its time object (deleted with it); main thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/store/ManagedObject.h"

class BTSettableTimeObject;

class BTTimeSetting : public tw::store::ManagedObject {
 public:
  std::int64_t day() const;
  void setDay(std::int64_t day);
  std::int64_t hour() const;
  void setHour(std::int64_t hour);
  std::int64_t minute() const;
  void setMinute(std::int64_t minute);
  std::int64_t second() const;
  void setSecond(std::int64_t second);

  // day × 86400 + hour × 3600 + minute × 60 + second.
  // Observers of "value" hear every change of the four fields.
  double value() const;

  // The time object it belongs to (the inverse of its "time").
  std::shared_ptr<BTSettableTimeObject> timeObject() const;

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override;
};
