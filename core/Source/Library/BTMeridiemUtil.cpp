#include "core/Source/Library/BTMeridiemUtil.h"

#include <algorithm>

#include "platform/foundation/Localization.h"

unsigned long BTMeridiemUtil::militaryHourFromStandardHour(unsigned long hour,
                                                           unsigned long meridiem) {
  const unsigned long h = std::min<unsigned long>(hour == 0 ? 1 : hour, 12);
  switch (meridiem) {
    case BTMeridiemPM:
      return h < 12 ? h + 12 : 12;  // 12 PM is noon
    case BTMeridiemAM:
      return h < 12 ? h : 0;  // 12 AM is midnight
    default:
      return 0;
  }
}

unsigned long BTMeridiemUtil::standardHourFromMilitaryHour(unsigned long hour) {
  if (hour == 0) return 12;
  const unsigned long h = std::min<unsigned long>(hour, 23);
  return h >= 13 ? h - 12 : h;
}

unsigned long BTMeridiemUtil::meridiemFromMilitaryHour(unsigned long hour) {
  return hour > 11 ? BTMeridiemPM : BTMeridiemAM;
}

std::optional<std::string> BTMeridiemUtil::meridiemDescription(unsigned long meridiem) {
  switch (meridiem) {
    case BTMeridiemAM:
      return tw::localized("AM");
    case BTMeridiemPM:
      return tw::localized("PM");
    default:
      return std::nullopt;
  }
}

unsigned long BTMeridiemUtil::militaryHourFromMilitaryHour(unsigned long hour,
                                                           unsigned long meridiem) {
  return militaryHourFromStandardHour(standardHourFromMilitaryHour(hour), meridiem);
}
