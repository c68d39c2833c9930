#include "kits/analytics/ORVEmberlynAnalyticsBridge.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <map>

#include "kits/analytics/ORVLogger.h"
#include "kits/platform/Emberlyn.h"
#include "platform/foundation/Log.h"

// GCC 12 reports a false maybe-uninitialized on string values moved through tw::Value at -O2.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

constexpr const char* kOrigin = "tsy";
constexpr const char* kPrefix = "tessaly_";
constexpr std::size_t kMaximumNameLength = 40;

using KeyMapping = std::vector<std::pair<std::string, std::string>>;

const std::map<std::string, std::string>& eventNames() {
  // Never destroyed, as every constant here: an analytics worker may still read them while the
  // exit handlers run.
  static const auto& names =
      *new const std::map<std::string, std::string>{{"content_view", "select_content"},
                                                    {"share", "share"},
                                                    {"sign_up", "sign_up"},
                                                    {"login", "login"},
                                                    {"search", "search"},
                                                    {"purchase", "ecommerce_purchase"},
                                                    {"add_to_cart", "add_to_cart"},
                                                    {"start_checkout", "begin_checkout"},
                                                    {"level_start", "level_start"},
                                                    {"level_end", "level_end"},
                                                    {"invite", "invite"},
                                                    {"rating", "rate_content"}};
  return names;
}

const std::map<std::string, KeyMapping>& keyMappings() {
  static const auto& mappings = *new const std::map<std::string, KeyMapping>{
      {"select_content",
       {{"content_type", "content_type"},
        {"content_id", "item_id"},
        {"content_name", "item_name"}}},
      {"share",
       {{"content_type", "content_type"},
        {"content_id", "item_id"},
        {"content_name", "item_name"},
        {"method", "method"}}},
      {"sign_up", {{"method", "method"}, {"success", "success"}}},
      {"login", {{"method", "method"}, {"success", "success"}}},
      {"search", {{"query", "search_term"}}},
      {"ecommerce_purchase",
       {{"currency", "currency"},
        {"item_price", "value"},
        {"success", "success"},
        {"item_type", "item_category"},
        {"item_id", "item_id"},
        {"item_name", "item_name"}}},
      {"add_to_cart",
       {{"item_type", "item_category"},
        {"item_id", "item_id"},
        {"item_name", "item_name"},
        {"item_price", "price"},
        {"currency", "currency"}}},
      {"begin_checkout",
       {{"currency", "currency"}, {"total_price", "value"}, {"item_count", "quantity"}}},
      {"rate_content",
       {{"rating", "rating"},
        {"content_type", "content_type"},
        {"content_id", "item_id"},
        {"content_name", "item_name"}}},
      {"level_start", {{"level_name", "level_name"}}},
      {"level_end", {{"level_name", "level_name"}, {"score", "score"}, {"success", "success"}}},
      {"invite", {{"method", "method"}}}};
  return mappings;
}

// The platform's own prefixes, which its callers may not use.
const std::vector<std::string>& reservedPrefixes() {
  static const auto& prefixes = *new const std::vector<std::string>{"emberlyn_", "halvern_", "ha_"};
  return prefixes;
}

bool isAlphanumeric(UChar32 c) {
  return c >= 0 && (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

// The first `maximum` UTF-16 units, never half a surrogate pair.
std::string cutToUnits(const std::string& s, std::size_t maximum) {
  std::size_t units = 0;
  std::int32_t i = 0;
  const auto length = static_cast<std::int32_t>(s.size());
  while (i < length) {
    std::int32_t start = i;
    UChar32 c;
    U8_NEXT(s.data(), i, length, c);
    std::size_t u = (c > 0xFFFF) ? 2 : 1;
    if (units + u > maximum) return s.substr(0, static_cast<std::size_t>(start));
    units += u;
  }
  return s;
}

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

ORVEmberlynAnalyticsBridge::ORVEmberlynAnalyticsBridge()
    : ORVEmberlynAnalyticsBridge(tw::runtime::classNamed(tw::emberlyn::kAnalyticsClassName)) {}

ORVEmberlynAnalyticsBridge::ORVEmberlynAnalyticsBridge(std::shared_ptr<tw::RuntimeClass> cls) {
  if (cls && cls->respondsToSelector(tw::emberlyn::kLogInternalEvent))
    emberlynAnalytics_ = std::move(cls);
}

void ORVEmberlynAnalyticsBridge::logEvent(const ORVEvent& event) const {
  if (!emberlynAnalytics_) return;
  if (auto custom = dynamic_cast<const ORVCustomEvent*>(&event)) {
    logCustomEvent(*custom);
  } else if (auto predefined = dynamic_cast<const ORVPredefinedEvent*>(&event)) {
    logPredefinedEvent(*predefined);
  }
}

void ORVEmberlynAnalyticsBridge::logCustomEvent(const ORVCustomEvent& event) const {
  std::string name = sanitizeEventName(event.customEventName());
  tw::Dictionary parameters =
      customParametersFromCustomAttributes(event.customAttributes().value_or(tw::Dictionary{}));
  ORVLogger::sharedLogger().log("Logging custom event to Emberlyn. <%@\n%@>", name,
                                tw::Value(parameters));
  send(name, parameters);
}

void ORVEmberlynAnalyticsBridge::logPredefinedEvent(const ORVPredefinedEvent& event) const {
  const auto& predefined = event.predefinedAttributes().dictionaryRepresentation();
  std::string name = emberlynEventNameForOrisethEventName(event.predefinedEventName(), predefined);
  tw::Dictionary parameters = emberlynEventParametersForPredefinedAttributes(
      predefined, event.customAttributes().dictionaryRepresentation(), name);
  ORVLogger::sharedLogger().log("Logging predefined event to Emberlyn. <%@\n%@>", name,
                                tw::Value(parameters));
  logPredefinedEventToEmberlynWithEventName(name, parameters);
}

void ORVEmberlynAnalyticsBridge::logPredefinedEventToEmberlynWithEventName(
    const std::string& name, const tw::Dictionary& parameters) const {
  send(name, parameters);
  if (name == "level_end") send("post_score", parameters);
}

void ORVEmberlynAnalyticsBridge::send(const std::string& name,
                                      const tw::Dictionary& parameters) const {
  if (!emberlynAnalytics_) return;
  emberlynAnalytics_->perform(
      tw::emberlyn::kLogInternalEvent,
      tw::Array{tw::Value(kOrigin), tw::Value(name), tw::Value(parameters)});
}

std::string ORVEmberlynAnalyticsBridge::emberlynEventNameForOrisethEventName(
    const std::string& orisethName, const tw::Dictionary& predefined) {
  auto it = eventNames().find(orisethName);
  // An unknown kind keeps its own name; the factories make none.
  std::string name = it == eventNames().end() ? orisethName : it->second;
  return shouldUseFailedEventName(name, predefined) ? failedEventName(name) : name;
}

bool ORVEmberlynAnalyticsBridge::shouldUseFailedEventName(const std::string& emberlynName,
                                                          const tw::Dictionary& predefined) {
  if (!isFailableEvent(emberlynName)) return false;
  auto it = predefined.find("success");
  return it != predefined.end() && !it->second.isNull() && !it->second.boolValue();
}

std::string ORVEmberlynAnalyticsBridge::failedEventName(const std::string& emberlynName) {
  return "failed_" + emberlynName;
}

tw::Dictionary ORVEmberlynAnalyticsBridge::emberlynEventParametersForPredefinedAttributes(
    const tw::Dictionary& predefined, const tw::Dictionary& custom,
    const std::string& emberlynName) {
  return combinedParametersFromPredefinedParameters(
      predefinedParametersFromPredefinedAttributes(predefined, emberlynName),
      customParametersFromCustomAttributes(custom));
}

tw::Dictionary ORVEmberlynAnalyticsBridge::combinedParametersFromPredefinedParameters(
    const tw::Dictionary& predefined, const tw::Dictionary& custom) {
  tw::Dictionary combined = predefined;
  for (const auto& [key, value] : custom) combined.emplace(key, value);
  return combined;
}

tw::Dictionary ORVEmberlynAnalyticsBridge::customParametersFromCustomAttributes(
    const std::vector<std::pair<tw::Value, tw::Value>>& customAttributes) {
  tw::Dictionary parameters;
  for (const auto& [key, value] : customAttributes) {
    if (!key.isString()) continue;
    if (!value.isString() && !value.isNumber() && !value.isBool()) continue;
    parameters[sanitizeAttributeName(*key.string())] = value;
  }
  return parameters;
}

tw::Dictionary ORVEmberlynAnalyticsBridge::customParametersFromCustomAttributes(
    const tw::Dictionary& custom) {
  std::vector<std::pair<tw::Value, tw::Value>> entries;
  entries.reserve(custom.size());
  for (const auto& [key, value] : custom) entries.emplace_back(tw::Value(key), value);
  return customParametersFromCustomAttributes(entries);
}

tw::Dictionary ORVEmberlynAnalyticsBridge::predefinedParametersFromPredefinedAttributes(
    const tw::Dictionary& predefined, const std::string& emberlynName) {
  auto it = keyMappings().find(emberlynName);
  if (it == keyMappings().end()) return {};
  return transformedBaseParameters(
      extractBaseParameterDictionaryFromPredefinedAttributes(predefined, it->second), emberlynName);
}

tw::Dictionary ORVEmberlynAnalyticsBridge::extractBaseParameterDictionaryFromPredefinedAttributes(
    const tw::Dictionary& predefined, const KeyMapping& keyMapping) {
  tw::Dictionary parameters;
  for (const auto& [orisethKey, emberlynKey] : keyMapping) {
    auto it = predefined.find(orisethKey);
    if (it == predefined.end() || it->second.isNull()) continue;
    const tw::Value& value = it->second;
    if (orisethKey == "item_price" || orisethKey == "total_price") {
      parameters[emberlynKey] = tw::Value(value.doubleValue() * 1e-6);
    } else if (orisethKey == "success") {
      const std::string* s = value.string();
      parameters[emberlynKey] = tw::Value(s && *s == "true" ? 1 : 0);
    } else {
      parameters[emberlynKey] = value;
    }
  }
  return parameters;
}

tw::Dictionary ORVEmberlynAnalyticsBridge::transformedBaseParameters(
    tw::Dictionary parameters, const std::string& emberlynName) {
  if (emberlynName == "add_to_cart") {
    parameters["quantity"] = tw::Value(1);
    if (auto price = parameters.find("price"); price != parameters.end())
      parameters["value"] = price->second;
  } else if (isFailableEvent(emberlynName)) {
    parameters.erase("success");
  }
  return parameters;
}

bool ORVEmberlynAnalyticsBridge::isFailableEvent(const std::string& emberlynName) {
  return emberlynName == "ecommerce_purchase" || emberlynName == "login" ||
         emberlynName == "sign_up";
}

const std::vector<std::string>& ORVEmberlynAnalyticsBridge::emberlynReservedKeys() {
  static const auto& keys = *new const std::vector<std::string>{"app_clear_data",
                                                                "app_exception",
                                                                "app_remove",
                                                                "app_upgrade",
                                                                "app_install",
                                                                "app_update",
                                                                "emberlyn_campaign",
                                                                "error",
                                                                "first_open",
                                                                "first_visit",
                                                                "in_app_purchase",
                                                                "notification_dismiss",
                                                                "notification_foreground",
                                                                "notification_open",
                                                                "notification_receive",
                                                                "os_update",
                                                                "session_start",
                                                                "user_engagement",
                                                                "ad_exposure",
                                                                "adunit_exposure",
                                                                "ad_query",
                                                                "ad_activeview",
                                                                "ad_impression",
                                                                "ad_click",
                                                                "screen_view",
                                                                "emberlyn_extra_parameter"};
  return keys;
}

std::string ORVEmberlynAnalyticsBridge::sanitizeKeyName(const std::string& name) {
  if (name.empty()) return name;
  std::string out;
  out.reserve(name.size());
  bool inRun = false;
  std::int32_t i = 0;
  const auto length = static_cast<std::int32_t>(name.size());
  UChar32 first = -1;
  while (i < length) {
    std::int32_t start = i;
    UChar32 c;
    U8_NEXT(name.data(), i, length, c);
    if (start == 0) first = c;
    if (c == '_' || isAlphanumeric(c)) {
      out.append(name, static_cast<std::size_t>(start), static_cast<std::size_t>(i - start));
      inRun = false;
    } else if (!inRun) {
      out.push_back('_');
      inRun = true;
    }
  }
  bool startsWithLetter = first >= 0 && (U_GET_GC_MASK(first) & U_GC_L_MASK) != 0;
  if (!startsWithLetter) return kPrefix + out;
  for (const auto& prefix : reservedPrefixes())
    if (startsWith(out, prefix)) return kPrefix + out;
  const auto& reserved = emberlynReservedKeys();
  if (std::find(reserved.begin(), reserved.end(), out) != reserved.end()) return kPrefix + out;
  return out;
}

std::string ORVEmberlynAnalyticsBridge::sanitizeEventName(const std::optional<std::string>& name) {
  if (!name || name->empty()) return std::string(kPrefix) + "unnamed_event";
  return cutToUnits(sanitizeKeyName(*name), kMaximumNameLength);
}

std::string ORVEmberlynAnalyticsBridge::sanitizeAttributeName(const std::string& name) {
  if (name.empty()) return std::string(kPrefix) + "unnamed_parameter";
  return cutToUnits(sanitizeKeyName(name), kMaximumNameLength);
}

void ORVStubsForEBNAnalytics::logInternalEventWithOrigin(const std::string&, const std::string&,
                                                         const tw::Dictionary&) {
  tw::log("Stub only. Do not use.");
}
