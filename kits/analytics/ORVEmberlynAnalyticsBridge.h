#pragma once
// ORVEmberlynAnalyticsBridge: hands copies of custom and predefined events to the outside
// analytics platform, when the application carries it, in the platform's vocabulary (its event
// and parameter names, its naming rules). The platform is never linked: its analytics class is
// found by name once, at creation, and used only when it answers the internal logging message.
// Owned by the analytics controller; called on its event queue. Keeps no mutable state.
// ORVStubsForEBNAnalytics: the shape of the platform's entry point; nothing calls it.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kits/analytics/ORVEvent.h"
#include "kits/platform/RuntimeClass.h"
#include "platform/foundation/Value.h"

class ORVEmberlynAnalyticsBridge {
 public:
  // Looks up "EBNAnalytics".
  ORVEmberlynAnalyticsBridge();
  // Keeps the class only when it answers logInternalEventWithOrigin:name:parameters:.
  explicit ORVEmberlynAnalyticsBridge(std::shared_ptr<tw::RuntimeClass> emberlynAnalyticsClass);

  // Custom and predefined events are forwarded; every other kind is ignored.
  void logEvent(const ORVEvent& event) const;
  void logCustomEvent(const ORVCustomEvent& event) const;
  void logPredefinedEvent(const ORVPredefinedEvent& event) const;
  void logPredefinedEventToEmberlynWithEventName(const std::string& name,
                                                 const tw::Dictionary& parameters) const;
  const std::shared_ptr<tw::RuntimeClass>& emberlynAnalytics() const { return emberlynAnalytics_; }

  static std::string emberlynEventNameForOrisethEventName(const std::string& orisethName,
                                                          const tw::Dictionary& predefined);
  static bool shouldUseFailedEventName(const std::string& emberlynName,
                                       const tw::Dictionary& predefined);
  static std::string failedEventName(const std::string& emberlynName);
  static tw::Dictionary emberlynEventParametersForPredefinedAttributes(
      const tw::Dictionary& predefined, const tw::Dictionary& custom,
      const std::string& emberlynName);
  static tw::Dictionary combinedParametersFromPredefinedParameters(const tw::Dictionary& predefined,
                                                                   const tw::Dictionary& custom);
  // The caller's raw attributes: entries whose key is not a string, or whose value is neither a
  // string nor a number, are skipped (the platform could not take them).
  static tw::Dictionary customParametersFromCustomAttributes(
      const std::vector<std::pair<tw::Value, tw::Value>>& customAttributes);
  static tw::Dictionary customParametersFromCustomAttributes(const tw::Dictionary& custom);
  static tw::Dictionary predefinedParametersFromPredefinedAttributes(
      const tw::Dictionary& predefined, const std::string& emberlynName);
  static tw::Dictionary extractBaseParameterDictionaryFromPredefinedAttributes(
      const tw::Dictionary& predefined,
      const std::vector<std::pair<std::string, std::string>>& keyMapping);
  static tw::Dictionary transformedBaseParameters(tw::Dictionary parameters,
                                                  const std::string& emberlynName);
  static bool isFailableEvent(const std::string& emberlynName);
  static const std::vector<std::string>& emberlynReservedKeys();
  static std::string sanitizeKeyName(const std::string& name);
  static std::string sanitizeEventName(const std::optional<std::string>& name);
  static std::string sanitizeAttributeName(const std::string& name);

 private:
  void send(const std::string& name, const tw::Dictionary& parameters) const;
  std::shared_ptr<tw::RuntimeClass> emberlynAnalytics_;
};

class ORVStubsForEBNAnalytics {
 public:
  static void logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                         const tw::Dictionary& parameters);
};
