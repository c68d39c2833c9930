#pragma once
// The names by which the kits reach the outside analytics platform, which the product never
// links: its classes are looked up in the class registry (tw::runtime::classNamed) and each
// message is sent only when the class or object answers it (respondsToSelector). Without the
// platform every use does nothing. Constants only; any thread.

namespace tw::emberlyn {

// Class "EBNApp": class method defaultApp -> the platform's default application object (or
// nothing), whose optional isDataCollectionDefaultEnabled answers a boolean.
inline constexpr const char* kAppClassName = "EBNApp";
inline constexpr const char* kDefaultApp = "defaultApp";
inline constexpr const char* kIsDataCollectionDefaultEnabled = "isDataCollectionDefaultEnabled";

// Class "EBNAnalytics": logInternalEventWithOrigin:name:parameters: takes (origin string, event
// name string, parameter dictionary) and answers nothing; addLogEventListener: takes a
// tw::RuntimeBlock that receives the platform's own events.
inline constexpr const char* kAnalyticsClassName = "EBNAnalytics";
inline constexpr const char* kLogInternalEvent = "logInternalEventWithOrigin:name:parameters:";
inline constexpr const char* kAddLogEventListener = "addLogEventListener:";

// Posted once by the platform when it is ready; its user info holds the platform's application
// identifier, a non-empty string, under kHalvernAppIDKey.
inline constexpr const char* kReadyToConfigureNotification =
    "EBNAppReadyToConfigureSDKNotification";
inline constexpr const char* kHalvernAppIDKey = "EBNHalvernAppIDKey";

// The application class, looked up by name by the kits that need the shared application.
inline constexpr const char* kApplicationClassName = "NSApplication";

}  // namespace tw::emberlyn
