#pragma once
// The analytics events: small immutable records with an identifier, a time, a line name and a
// payload dictionary (ORVEvent and its predefined, custom, crash and lifecycle kinds). Made on
// the caller's thread, then handed to the kit's serial event queue; read-only afterwards except
// ORVCustomEvent::setCustomAttributes, which its owner calls before handing it on.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "kits/analytics/ORVAttributeDictionary.h"
#include "platform/foundation/Value.h"

class ORVEvent {
 public:
  ORVEvent();
  virtual ~ORVEvent() = default;
  virtual std::string name() const { return "unknown"; }
  virtual tw::Dictionary dictionaryRepresentation() const { return {}; }
  virtual bool triggersFlush() const { return false; }
  virtual tw::Date timestamp() const { return timestamp_; }
  const std::string& identifier() const { return identifier_; }
  virtual std::string description() const;

 private:
  std::string identifier_;
  tw::Date timestamp_;
};

class ORVPredefinedEvent : public ORVEvent {
 public:
  using Attrs = std::optional<tw::Dictionary>;
  using Str = tw::Value;  // a string or null
  using Num = tw::Value;  // a number or null

  std::string name() const override { return "predefined"; }
  tw::Dictionary dictionaryRepresentation() const override;
  std::string description() const override;

  const std::string& predefinedEventName() const { return predefinedEventName_; }
  const ORVAttributeDictionary& predefinedAttributes() const { return predefinedAttributes_; }
  const ORVAttributeDictionary& customAttributes() const { return customAttributes_; }

  static std::shared_ptr<ORVPredefinedEvent> signUpEvent(const Str& method, const Num& success,
                                                         const Attrs& custom = {});
  static std::shared_ptr<ORVPredefinedEvent> loginEvent(const Str& method, const Num& success,
                                                        const Attrs& custom = {});
  static std::shared_ptr<ORVPredefinedEvent> shareEvent(const Str& method, const Str& contentName,
                                                        const Str& contentType,
                                                        const Str& contentId,
                                                        const Attrs& custom = {});
  static std::shared_ptr<ORVPredefinedEvent> inviteEvent(const Str& method,
                                                         const Attrs& custom = {});
  static std::shared_ptr<ORVPredefinedEvent> purchaseEvent(const std::optional<tw::Decimal>& price,
                                                           const Str& currency, const Num& success,
                                                           const Str& itemName, const Str& itemType,
                                                           const Str& itemId,
                                                           const Attrs& custom = {});
  static std::shared_ptr<ORVPredefinedEvent> levelStartEvent(const Str& levelName,
                                                             const Attrs& custom = {});
  static std::shared_ptr<ORVPredefinedEvent> levelEndEvent(const Str& levelName, const Num& score,
                                                           const Num& success,
                                                           const Attrs& custom = {});
  static std::shared_ptr<ORVPredefinedEvent> addToCartEvent(const std::optional<tw::Decimal>& price,
                                                            const Str& currency,
                                                            const Str& itemName,
                                                            const Str& itemType, const Str& itemId,
                                                            const Attrs& custom = {});
  static std::shared_ptr<ORVPredefinedEvent> startCheckoutEvent(
      const std::optional<tw::Decimal>& price, const Str& currency, const Num& itemCount,
      const Attrs& custom = {});
  static std::shared_ptr<ORVPredefinedEvent> ratingEvent(const Num& rating, const Str& contentName,
                                                         const Str& contentType,
                                                         const Str& contentId,
                                                         const Attrs& custom = {});
  static std::shared_ptr<ORVPredefinedEvent> contentViewEvent(const Str& contentName,
                                                              const Str& contentType,
                                                              const Str& contentId,
                                                              const Attrs& custom = {});
  static std::shared_ptr<ORVPredefinedEvent> searchEvent(const Str& query,
                                                         const Attrs& custom = {});

 private:
  static std::shared_ptr<ORVPredefinedEvent> make(const std::string& name, const Attrs& custom);
  std::string predefinedEventName_;
  ORVAttributeDictionary predefinedAttributes_;
  ORVAttributeDictionary customAttributes_;
};

class ORVCustomEvent : public ORVEvent {
 public:
  ORVCustomEvent(std::string customEventName, std::optional<tw::Dictionary> customAttributes);
  std::string name() const override { return "custom"; }
  tw::Dictionary dictionaryRepresentation() const override;
  // Validated afresh each time it is asked, on the asking thread.
  ORVAttributeDictionary attributesDictionary() const;
  std::string description() const override;
  const std::string& customEventName() const { return customEventName_; }
  const std::optional<tw::Dictionary>& customAttributes() const { return customAttributes_; }
  void setCustomAttributes(std::optional<tw::Dictionary> a) { customAttributes_ = std::move(a); }

 private:
  std::string customEventName_;
  std::optional<tw::Dictionary> customAttributes_;
};

class ORVCrashEvent : public ORVEvent {
 public:
  ORVCrashEvent(tw::Date crashTimestamp, std::uint64_t crashState);
  std::string name() const override { return "app_crashed"; }
  tw::Date timestamp() const override { return crashTimestamp_; }
  tw::Dictionary dictionaryRepresentation() const override;
  static std::string payloadStringForCrashState(std::uint64_t state);
  tw::Date crashTimestamp() const { return crashTimestamp_; }
  std::uint64_t crashState() const { return crashState_; }

 private:
  tw::Date crashTimestamp_;
  std::uint64_t crashState_;
};

class ORVLifecycleEvent : public ORVEvent {
 public:
  explicit ORVLifecycleEvent(std::string name) : name_(std::move(name)) {}
  static std::shared_ptr<ORVLifecycleEvent> eventWithNotification(const std::string& notification);
  static std::shared_ptr<ORVLifecycleEvent> installEvent();
  static std::shared_ptr<ORVLifecycleEvent> appLaunchedEvent();
  static const std::map<std::string, std::string>& notificationNameMap();
  static std::string nameFromNotification(const std::string& notification);

  std::string name() const override { return name_; }
  tw::Dictionary dictionaryRepresentation() const override;
  bool triggersFlush() const override;

 private:
  std::string name_;
};
