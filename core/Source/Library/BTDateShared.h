#pragma once
// What the parts of the date helpers share among themselves, and no one else uses: the
// process's shared calendar, kept on the user's zone (core/Source/Library/BTDateHostZone.cpp),
// and the conversions between tw::Date and ICU's dates.

#include <unicode/calendar.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Value.h"

namespace tw::date_detail {

inline tw::Date now() { return tw::Date{tw::clock::wallNow()}; }
inline UDate toUDate(tw::Date d) { return d.secondsSince1970 * 1000.0; }
inline tw::Date fromUDate(UDate u) { return tw::Date{u / 1000.0}; }
// ICU takes NaN and infinities without complaint and answers nonsense for them.
inline bool usable(tw::Date d) { return std::isfinite(d.secondsSince1970); }

inline std::string toUtf8(const icu::UnicodeString& s) {
  std::string out;
  s.toUTF8String(out);
  return out;
}

// The shared calendar, locked for as long as this lives and brought up to date with the user's
// zone before it was handed out.
class HeldCalendar {
 public:
  icu::Calendar& calendar() const { return *calendar_; }

 private:
  friend HeldCalendar holdSharedCalendar();
  HeldCalendar(std::unique_lock<std::mutex> lock, icu::Calendar& calendar)
      : lock_(std::move(lock)), calendar_(&calendar) {}
  std::unique_lock<std::mutex> lock_;
  icu::Calendar* calendar_;
};

HeldCalendar holdSharedCalendar();

// Runs `f` on the shared calendar, held for the call, and returns what it returns.
template <class F>
auto withSharedCalendar(F&& f) {
  const HeldCalendar held = holdSharedCalendar();
  return f(held.calendar());
}

// Copies of the shared calendar and its zone, for work that changes them or outlasts the lock.
std::unique_ptr<icu::Calendar> sharedCalendarCopy();
std::unique_ptr<icu::TimeZone> sharedZoneCopy();

}  // namespace tw::date_detail
