#include "kits/analytics/ORVEvent.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/UUID.h"

ORVEvent::ORVEvent() : identifier_(tw::makeUUIDString()), timestamp_{tw::clock::wallNow()} {}

std::string ORVEvent::description() const {
  return tw::format("<ORVEvent: %@ %@>", name(), identifier_);
}

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::make(const std::string& name,
                                                             const Attrs& custom) {
  auto e = std::make_shared<ORVPredefinedEvent>();
  e->predefinedEventName_ = name;
  e->customAttributes_ = ORVAttributeDictionary(custom.value_or(tw::Dictionary{}));
  return e;
}

tw::Dictionary ORVPredefinedEvent::dictionaryRepresentation() const {
  return {{"eventId", identifier()},
          {"predefined_type", predefinedEventName_},
          {"custom_attributes", customAttributes_.dictionaryRepresentation()},
          {"predefined_attributes", predefinedAttributes_.dictionaryRepresentation()}};
}

std::string ORVPredefinedEvent::description() const {
  return tw::format("<%@: %@\n%@\n%@>", "ORVPredefinedEvent", predefinedEventName_,
                    predefinedAttributes_.description(), customAttributes_.description());
}

#define ORV_ADD(value, key) e->predefinedAttributes_.addAttribute(value, tw::Value(key))
#define ORV_ADD_B(value, key) e->predefinedAttributes_.addBooleanAttribute(value, tw::Value(key))
#define ORV_ADD_P(value, key) e->predefinedAttributes_.addPriceAttribute(value, tw::Value(key))

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::signUpEvent(const Str& method,
                                                                    const Num& success,
                                                                    const Attrs& custom) {
  auto e = make("sign_up", custom);
  ORV_ADD(method, "method");
  ORV_ADD_B(success, "success");
  return e;
}

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::loginEvent(const Str& method,
                                                                   const Num& success,
                                                                   const Attrs& custom) {
  auto e = make("login", custom);
  ORV_ADD(method, "method");
  ORV_ADD_B(success, "success");
  return e;
}

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::shareEvent(const Str& method,
                                                                   const Str& contentName,
                                                                   const Str& contentType,
                                                                   const Str& contentId,
                                                                   const Attrs& custom) {
  auto e = make("share", custom);
  ORV_ADD(method, "method");
  ORV_ADD(contentName, "content_name");
  ORV_ADD(contentType, "content_type");
  ORV_ADD(contentId, "content_id");
  return e;
}

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::inviteEvent(const Str& method,
                                                                    const Attrs& custom) {
  auto e = make("invite", custom);
  ORV_ADD(method, "method");
  return e;
}

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::purchaseEvent(
    const std::optional<tw::Decimal>& price, const Str& currency, const Num& success,
    const Str& itemName, const Str& itemType, const Str& itemId, const Attrs& custom) {
  auto e = make("purchase", custom);
  ORV_ADD_P(price, "item_price");
  ORV_ADD(currency, "currency");
  ORV_ADD_B(success, "success");
  ORV_ADD(itemName, "item_name");
  ORV_ADD(itemType, "item_type");
  ORV_ADD(itemId, "item_id");
  return e;
}

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::levelStartEvent(const Str& levelName,
                                                                        const Attrs& custom) {
  auto e = make("level_start", custom);
  ORV_ADD(levelName, "level_name");
  return e;
}

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::levelEndEvent(const Str& levelName,
                                                                      const Num& score,
                                                                      const Num& success,
                                                                      const Attrs& custom) {
  auto e = make("level_end", custom);
  ORV_ADD(levelName, "level_name");
  ORV_ADD(score, "score");
  ORV_ADD_B(success, "success");
  return e;
}

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::addToCartEvent(
    const std::optional<tw::Decimal>& price, const Str& currency, const Str& itemName,
    const Str& itemType, const Str& itemId, const Attrs& custom) {
  auto e = make("add_to_cart", custom);
  ORV_ADD_P(price, "item_price");
  ORV_ADD(currency, "currency");
  ORV_ADD(itemName, "item_name");
  ORV_ADD(itemType, "item_type");
  ORV_ADD(itemId, "item_id");
  return e;
}

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::startCheckoutEvent(
    const std::optional<tw::Decimal>& price, const Str& currency, const Num& itemCount,
    const Attrs& custom) {
  auto e = make("start_checkout", custom);
  ORV_ADD_P(price, "total_price");
  ORV_ADD(currency, "currency");
  ORV_ADD(itemCount, "item_count");
  return e;
}

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::ratingEvent(const Num& rating,
                                                                    const Str& contentName,
                                                                    const Str& contentType,
                                                                    const Str& contentId,
                                                                    const Attrs& custom) {
  auto e = make("rating", custom);
  ORV_ADD(rating, "rating");
  ORV_ADD(contentName, "content_name");
  ORV_ADD(contentType, "content_type");
  ORV_ADD(contentId, "content_id");
  return e;
}

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::contentViewEvent(const Str& contentName,
                                                                         const Str& contentType,
                                                                         const Str& contentId,
                                                                         const Attrs& custom) {
  auto e = make("content_view", custom);
  ORV_ADD(contentName, "content_name");
  ORV_ADD(contentType, "content_type");
  ORV_ADD(contentId, "content_id");
  return e;
}

std::shared_ptr<ORVPredefinedEvent> ORVPredefinedEvent::searchEvent(const Str& query,
                                                                    const Attrs& custom) {
  auto e = make("search", custom);
  ORV_ADD(query, "query");
  return e;
}

#undef ORV_ADD
#undef ORV_ADD_B
#undef ORV_ADD_P

ORVCustomEvent::ORVCustomEvent(std::string customEventName,
                               std::optional<tw::Dictionary> customAttributes)
    : customEventName_(std::move(customEventName)),
      customAttributes_(std::move(customAttributes)) {}

ORVAttributeDictionary ORVCustomEvent::attributesDictionary() const {
  return ORVAttributeDictionary(customAttributes_.value_or(tw::Dictionary{}));
}

tw::Dictionary ORVCustomEvent::dictionaryRepresentation() const {
  return {{"eventId", identifier()},
          {"custom_type", customEventName_},
          {"custom_attributes", attributesDictionary().dictionaryRepresentation()}};
}

std::string ORVCustomEvent::description() const {
  return tw::format("<%@: %@\n%@>", "ORVCustomEvent", customEventName_,
                    attributesDictionary().description());
}

ORVCrashEvent::ORVCrashEvent(tw::Date crashTimestamp, std::uint64_t crashState)
    : crashTimestamp_(crashTimestamp), crashState_(crashState) {}

std::string ORVCrashEvent::payloadStringForCrashState(std::uint64_t state) {
  return state == 1 ? "foreground" : state == 2 ? "background" : "unknown";
}

tw::Dictionary ORVCrashEvent::dictionaryRepresentation() const {
  return {{"eventId", identifier()}, {"crash_state", payloadStringForCrashState(crashState_)}};
}

const std::map<std::string, std::string>& ORVLifecycleEvent::notificationNameMap() {
  // Never destroyed: an analytics worker may still read it while the exit handlers run.
  static const auto& map = *new const std::map<std::string, std::string>{
      {"NSApplicationWillTerminateNotification", "app_terminated"},
      {"NSApplicationWillResignActiveNotification", "app_became_inactive"},
      {"NSApplicationDidBecomeActiveNotification", "app_became_active"}};
  return map;
}

std::string ORVLifecycleEvent::nameFromNotification(const std::string& notification) {
  auto& map = notificationNameMap();
  auto it = map.find(notification);
  return it == map.end() ? "unknown-notification" : it->second;
}

std::shared_ptr<ORVLifecycleEvent> ORVLifecycleEvent::eventWithNotification(
    const std::string& notification) {
  return std::make_shared<ORVLifecycleEvent>(nameFromNotification(notification));
}

std::shared_ptr<ORVLifecycleEvent> ORVLifecycleEvent::installEvent() {
  return std::make_shared<ORVLifecycleEvent>("app_installed");
}

std::shared_ptr<ORVLifecycleEvent> ORVLifecycleEvent::appLaunchedEvent() {
  return std::make_shared<ORVLifecycleEvent>("app_launched");
}

tw::Dictionary ORVLifecycleEvent::dictionaryRepresentation() const {
  return {{"eventId", identifier()}};
}

bool ORVLifecycleEvent::triggersFlush() const {
  return name_ == "app_became_inactive" || name_ == "app_became_active" || name_ == "app_installed";
}
