#pragma once
// The keys of the settings the bundles hold: the names stored in the defaults, observed by key
// path and announced when changed. Each is spelled here only. Constants; any thread.

namespace tw::settingkeys {

// General.
inline constexpr char kPreventSystemSleep[] = "preventSystemSleep";
inline constexpr char kPreventDisplaySleep[] = "preventDisplaySleep";
inline constexpr char kAnimationsDisabled[] = "animationsDisabled";
inline constexpr char kUseMilitaryTime[] = "useMilitaryTime";
// Master and detail.
inline constexpr char kViewMode[] = "viewMode";
inline constexpr char kAlarmSelectionIndex[] = "alarmSelectionIndex";
inline constexpr char kTimerSelectionIndex[] = "timerSelectionIndex";
inline constexpr char kStopwatchSelectionIndex[] = "stopwatchSelectionIndex";
inline constexpr char kActionsListViewCollapsed[] = "actionsListViewCollapsed";
// Time objects and action objects.
inline constexpr char kWarnIfActiveOnQuit[] = "warnIfActiveOnQuit";
inline constexpr char kPromptBeforeDelete[] = "promptBeforeDelete";
inline constexpr char kStopwatchAccuracy[] = "stopwatchAccuracy";

}  // namespace tw::settingkeys
