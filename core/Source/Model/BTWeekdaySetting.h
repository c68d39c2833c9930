#pragma once
// BTWeekdaySetting: the days of the week on which an alarm rings, one flag per day. With no
// flag set the alarm rings at the next occurrence of its time.
// Owned by its store context and by its alarm (deleted with it); main thread only.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/Source/Model/BTModelKeys.h"
#include "platform/store/ManagedObject.h"

class BTAlarm;

class BTWeekdaySetting : public tw::store::ManagedObject {
 public:
  bool sunday() const { return boolForKey(BTModelKey::kSunday); }
  void setSunday(bool on);
  bool monday() const { return boolForKey(BTModelKey::kMonday); }
  void setMonday(bool on);
  bool tuesday() const { return boolForKey(BTModelKey::kTuesday); }
  void setTuesday(bool on);
  bool wednesday() const { return boolForKey(BTModelKey::kWednesday); }
  void setWednesday(bool on);
  bool thursday() const { return boolForKey(BTModelKey::kThursday); }
  void setThursday(bool on);
  bool friday() const { return boolForKey(BTModelKey::kFriday); }
  void setFriday(bool on);
  bool saturday() const { return boolForKey(BTModelKey::kSaturday); }
  void setSaturday(bool on);

  // Sets (clears) all seven, Sunday to Saturday.
  void setAllWeekdays();
  void unsetAllWeekdays();

  // The flags Sunday first, the order the alarm schedule reads them in.
  std::array<bool, 7> flags() const;
  // The attribute names in the same order.
  static const std::array<const char*, 7>& weekdayKeys();
  // The flags as bits, Sunday in bit 0; one key whose observers hear every flag change.
  int weekdayMask() const;

  // The alarm it belongs to (the inverse of its "weekdays").
  std::shared_ptr<BTAlarm> alarm() const;

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override;

 private:
  void setAll(bool on);
};
