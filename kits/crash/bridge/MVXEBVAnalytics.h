#pragma once
// MVXEBVAnalytics: the crash kit's bridge to the outside analytics platform, which the product
// never links. Its analytics class ("EBNAnalytics") is looked up once by name in the class
// registry and used only when it answers both messages the bridge sends; without it every
// operation here does nothing. The bridge tells the platform about each uploaded crash report
// (origin "mrv", event "_ae") and writes the platform's own events into the user log ("$A$:" and
// the event's JSON), so a crash report shows the analytics events that led to it.
//
// Class functions only, no state beyond the class found once. Any thread: the crash event is
// sent from the crash kit's work queue, the listener runs on whatever thread the platform calls
// it from and writes through the user-log queue.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kits/platform/RuntimeClass.h"
#include "platform/foundation/Value.h"

class MVXEBVAnalytics {
 public:
  MVXEBVAnalytics() = delete;

  // seconds since 1970; emberlynMorvexEnabled is the downloaded "emberlyn_morvex_enabled".
  static void logCrashWithTimeStamp(double timeStamp, bool emberlynMorvexEnabled);
  // "timestamp" (milliseconds, rounded half to even), "_r" and "fatal" (both 1).
  static tw::Dictionary buildLogParamsFromCrash(double timeStamp);
  // Hands the listener (called with each event object the platform logs) to the platform.
  static void registerAnalyticsEventListener(std::shared_ptr<tw::RuntimeBlock> listener);

  // The platform's analytics class, found once; nullptr when absent or unfit.
  static std::shared_ptr<tw::RuntimeClass> platformClass();
  // Platform mode: the kits were started through the platform and its class exists.
  static bool emberlynMode();
};

// A platform value object as a string or number, or nullopt (the parameter is left out).
std::optional<tw::Value> MVXEBNValueToAllowableType(const tw::Value& value);
// The parameters' values converted; those that do not convert are left out.
tw::Dictionary MVXEBNAParametersToDictionary(const tw::Value& parameters);
// {"name", "parameters"} of a platform event object, or nullopt without a name.
std::optional<tw::Dictionary> MVXEBNAEventToDictionary(const tw::Value& event);
std::optional<std::string> MVXEBNAEventDictionaryToJSON(const std::optional<tw::Dictionary>& event);

namespace tw {

// The listener the crash reporting controller registers: each platform event into the user log.
std::shared_ptr<RuntimeBlock> MVXEmberlynUserLogListener();
// Forgets the class found once, so a test may register or remove a fake platform.
void MVXEBVAnalyticsResetForTesting();

}  // namespace tw
