#pragma once
// The master list's view modes (0 alarms, 1 timers, 2 stopwatches) as the rest of the system
// meets them: the notification that announces a change of mode, the mode it carries, and the
// three gradient colours of each mode's list.
// No state; any thread.

#include <optional>
#include <vector>

#include "core/Source/Model/BTColor.h"
#include "platform/foundation/NotificationCenter.h"

inline constexpr const char* BTMasterListViewModeDidChangeNotification =
    "BTMasterListViewModeDidChange";
inline constexpr const char* BTMasterListViewModeValueUserInfoKey =
    "BTMasterListViewModeValueUserInfoKey";

// The integer under BTMasterListViewModeValueUserInfoKey in the notification's user info (0
// when absent, as a message to nil answered).
long BTMasterListViewGetValueFromNotification(const tw::Notification& notification);

// Start, middle and end colour of the mode's gradient, each with `alpha`; nullopt for a value
// that is no mode.
std::optional<std::vector<BTColor>> BTMasterListViewModeGetGradientColors(long mode, double alpha);
