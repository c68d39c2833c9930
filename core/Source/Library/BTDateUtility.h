#pragma once
// Calendar arithmetic, comparisons and text of dates in the user's calendar, locale and time zone:
// the date helpers every layer of the core uses (the alarm schedule, list descriptions, the
// "Today at ..." texts of the settings panes).
// Owned by the core library. Every function is static and safe to call from any thread: the
// process's shared calendar sits behind a mutex and formatters are made per call.
//
// BTDateUtility gathers three parts under one name, each in a header of its own:
//   - core/Source/Library/BTDateCalendar.h: components, comparisons, calendar units, differences;
//   - core/Source/Library/BTDateFormatting.h: text in the user's locale;
//   - core/Source/Library/BTDateHostZone.h: the user's zone as the host gives it, followed as it
//     changes.
//
// "Now" is always tw::clock::wallNow(), so a virtual clock drives every relative operation.

#include "core/Source/Library/BTDateCalendar.h"
#include "core/Source/Library/BTDateFormatting.h"
#include "core/Source/Library/BTDateHostZone.h"

class BTDateUtility : public BTDateCalendar, public BTDateFormatting, public BTDateHostZone {
 public:
  BTDateUtility() = delete;
};
