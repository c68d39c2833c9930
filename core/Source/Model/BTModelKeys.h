#pragma once
// The names of the stored entities' attributes and relationships, one constant each. The store
// model declares its entities with them and the typed accessors (and the editor's builders, which
// stand in for stored actions) read and write through them, so a misspelt name fails to compile
// instead of reading null at run time. Names shared by several entities (sortOrder, timeObject,
// pauseDate, finishDate) are one constant: the same key means the same thing on each.

namespace BTModelKey {

// Every stored object.
inline constexpr const char* kUuid = "uuid";
inline constexpr const char* kCreationDate = "creationDate";

// Time objects and their settings.
inline constexpr const char* kTitle = "title";
inline constexpr const char* kTimingState = "timingState";
inline constexpr const char* kSortOrder = "sortOrder";
inline constexpr const char* kTimingValue = "timingValue";
inline constexpr const char* kActions = "actions";
inline constexpr const char* kLinkedActions = "linkedActions";
inline constexpr const char* kTime = "time";
inline constexpr const char* kFinishDate = "finishDate";
inline constexpr const char* kPauseDate = "pauseDate";
inline constexpr const char* kWeekdays = "weekdays";
inline constexpr const char* kStartDate = "startDate";
inline constexpr const char* kDay = "day";
inline constexpr const char* kHour = "hour";
inline constexpr const char* kMinute = "minute";
inline constexpr const char* kSecond = "second";
inline constexpr const char* kTimeObject = "timeObject";
inline constexpr const char* kAlarm = "alarm";

// Weekday flags, Sunday to Saturday.
inline constexpr const char* kSunday = "sunday";
inline constexpr const char* kMonday = "monday";
inline constexpr const char* kTuesday = "tuesday";
inline constexpr const char* kWednesday = "wednesday";
inline constexpr const char* kThursday = "thursday";
inline constexpr const char* kFriday = "friday";
inline constexpr const char* kSaturday = "saturday";

// Actions.
inline constexpr const char* kEnabled = "enabled";
inline constexpr const char* kTrigger = "trigger";
inline constexpr const char* kAlertSoundType = "alertSoundType";
inline constexpr const char* kAlertCustomMessage = "alertCustomMessage";
inline constexpr const char* kCustomMessageMode = "customMessageMode";
inline constexpr const char* kCustomMessageValue = "customMessageValue";
inline constexpr const char* kScreenColorArgbValue = "screenColorArgbValue";
inline constexpr const char* kTargetTimeObject = "targetTimeObject";
inline constexpr const char* kTargetAction = "targetAction";
inline constexpr const char* kSystemEventType = "systemEventType";
inline constexpr const char* kFileFilepathValue = "fileFilepathValue";
inline constexpr const char* kAppOperationType = "appOperationType";
inline constexpr const char* kAppFilepathValue = "appFilepathValue";

// Triggers.
inline constexpr const char* kActionObject = "actionObject";
inline constexpr const char* kTriggered = "triggered";
inline constexpr const char* kStateFrom = "stateFrom";
inline constexpr const char* kStateTo = "stateTo";
inline constexpr const char* kPreviousState = "previousState";
inline constexpr const char* kCurrentState = "currentState";
inline constexpr const char* kTimeInterval = "timeInterval";
inline constexpr const char* kTimeCondition = "timeCondition";
inline constexpr const char* kMeetsTriggerPreCondition = "meetsTriggerPreCondition";

}  // namespace BTModelKey
