#pragma once
// When an alarm rings next: the moment behind an alarm's computed finish date, from its time of
// day, its weekdays and the current moment. A plain function without state, callable from any
// thread; it reads the user's calendar and zone through BTDateUtility.

#include "platform/foundation/Value.h"

// `hour`, `minute`, `second` and `day` are the alarm's time setting; `weekdays` its flags, Sunday
// first (nullptr counts as no weekday set).
//
// The day: the first of today (only while the alarm's minute has not begun) and the next seven
// days whose weekday is set; with no weekday set, today or, once the minute has begun, tomorrow.
// The moment: that day's wall time hour:minute:second (plus `day` further calendar days) in the
// user's zone, so a 07:30 alarm rings at 07:30 on the days the clocks change too. A wall time the
// clocks jump over rings at the end of the jump; one they show twice rings at its first showing,
// or at its second while only the first has gone by.
tw::Date BTAlarmNextRingDate(tw::Date now, long hour, long minute, long second, long day,
                             const bool weekdays[7]);
