#pragma once
// The action editor's announcements of a saved action: inserted (a new action) or updated (an
// edited one replaced by a new action of the same uuid), sent by the editor's view model with
// itself as sender and the saved action under BTActionObjectUserInfoKey. Every actions list
// listens. Posted and heard on the main thread.

inline constexpr const char* BTActionObjectInsertedNotification =
    "BTActionObjectInsertedNotification";
inline constexpr const char* BTActionObjectUpdatedNotification =
    "BTActionObjectUpdatedNotification";
inline constexpr const char* BTActionObjectUserInfoKey = "BTActionObjectUserInfoKey";
