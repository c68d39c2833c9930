#pragma once
// Text of dates in the user's locale and time zone. Part of the date helpers
// (core/Source/Library/BTDateUtility.h, which callers include).
// Every function is static and safe to call from any thread: formatters are made per call, each
// given the zone the shared calendar follows at that moment.

#include <string>

#include "platform/foundation/Value.h"

namespace tw {

// Formatter styles. The numbers are stored in settings and passed by callers as plain integers,
// so they stay as they are.
enum class DateFormatStyle { None = 0, Short = 1, Medium = 2, Long = 3, Full = 4 };

}  // namespace tw

class BTDateFormatting {
 public:
  BTDateFormatting() = delete;

  // --- Text -----------------------------------------------------------------------------------
  // `format` is a date pattern ("yyyy-MM-dd HH:mm"), read in the user's locale.
  static std::string stringWithFormat(tw::Date d, const std::string& format);
  // Both styles None gives the empty string.
  static std::string stringWithDateStyle(tw::Date d, tw::DateFormatStyle dateStyle,
                                         tw::DateFormatStyle timeStyle);
  static std::string shortString(tw::Date d);
  static std::string shortTimeString(tw::Date d);
  static std::string shortDateString(tw::Date d);
  static std::string mediumString(tw::Date d);
  static std::string mediumTimeString(tw::Date d);
  static std::string mediumDateString(tw::Date d);
  static std::string longString(tw::Date d);
  static std::string longTimeString(tw::Date d);
  static std::string longDateString(tw::Date d);
};
