#pragma once
// Conversions between 0-23 ("military") and 1-12 ("standard") hours for alarm editing and
// display. Meridiem codes: 0 AM, 1 PM. Stateless; any thread.

#include <optional>
#include <string>

enum BTMeridiem : unsigned long { BTMeridiemAM = 0, BTMeridiemPM = 1 };

class BTMeridiemUtil {
 public:
  static unsigned long militaryHourFromStandardHour(unsigned long hour, unsigned long meridiem);
  static unsigned long standardHourFromMilitaryHour(unsigned long hour);
  static unsigned long meridiemFromMilitaryHour(unsigned long hour);
  // Localized "AM"/"PM"; nullopt for any other code.
  static std::optional<std::string> meridiemDescription(unsigned long meridiem);
  // Moves a 0-23 hour into the given half of the day.
  static unsigned long militaryHourFromMilitaryHour(unsigned long hour, unsigned long meridiem);
};
