#include "core/Source/Library/BTDateFormatting.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include <memory>

#include "core/Source/Library/BTDateShared.h"

using namespace tw::date_detail;

namespace {

icu::DateFormat::EStyle icuStyle(tw::DateFormatStyle style) {
  switch (style) {
    case tw::DateFormatStyle::Short:
      return icu::DateFormat::kShort;
    case tw::DateFormatStyle::Medium:
      return icu::DateFormat::kMedium;
    case tw::DateFormatStyle::Long:
      return icu::DateFormat::kLong;
    case tw::DateFormatStyle::Full:
      return icu::DateFormat::kFull;
    case tw::DateFormatStyle::None:
      break;
  }
  return icu::DateFormat::kNone;
}

std::string formatWith(icu::DateFormat* formatter, tw::Date d) {
  if (!formatter || !usable(d)) return {};
  formatter->adoptTimeZone(sharedZoneCopy().release());
  icu::UnicodeString out;
  formatter->format(toUDate(d), out);
  return toUtf8(out);
}

}  // namespace

// --- Text -------------------------------------------------------------------------------------

std::string BTDateFormatting::stringWithFormat(tw::Date d, const std::string& format) {
  UErrorCode status = U_ZERO_ERROR;
  icu::SimpleDateFormat formatter(icu::UnicodeString::fromUTF8(format), icu::Locale::getDefault(),
                                  status);
  if (U_FAILURE(status)) return {};
  return formatWith(&formatter, d);
}

std::string BTDateFormatting::stringWithDateStyle(tw::Date d, tw::DateFormatStyle dateStyle,
                                                  tw::DateFormatStyle timeStyle) {
  if (dateStyle == tw::DateFormatStyle::None && timeStyle == tw::DateFormatStyle::None) return {};
  std::unique_ptr<icu::DateFormat> formatter(icu::DateFormat::createDateTimeInstance(
      icuStyle(dateStyle), icuStyle(timeStyle), icu::Locale::getDefault()));
  return formatWith(formatter.get(), d);
}

using Style = tw::DateFormatStyle;
std::string BTDateFormatting::shortString(tw::Date d) {
  return stringWithDateStyle(d, Style::Short, Style::Short);
}
std::string BTDateFormatting::shortTimeString(tw::Date d) {
  return stringWithDateStyle(d, Style::None, Style::Short);
}
std::string BTDateFormatting::shortDateString(tw::Date d) {
  return stringWithDateStyle(d, Style::Short, Style::None);
}
std::string BTDateFormatting::mediumString(tw::Date d) {
  return stringWithDateStyle(d, Style::Medium, Style::Medium);
}
std::string BTDateFormatting::mediumTimeString(tw::Date d) {
  return stringWithDateStyle(d, Style::None, Style::Medium);
}
std::string BTDateFormatting::mediumDateString(tw::Date d) {
  return stringWithDateStyle(d, Style::Medium, Style::None);
}
std::string BTDateFormatting::longString(tw::Date d) {
  return stringWithDateStyle(d, Style::Long, Style::Long);
}
std::string BTDateFormatting::longTimeString(tw::Date d) {
  return stringWithDateStyle(d, Style::None, Style::Long);
}
std::string BTDateFormatting::longDateString(tw::Date d) {
  return stringWithDateStyle(d, Style::Long, Style::None);
}
