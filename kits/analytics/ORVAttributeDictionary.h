#pragma once
// ORVAttributeDictionary: the validating map every user-supplied event attribute passes through
// (at most 21 entries, keys and strings cut to 100 UTF-16 units, numbers kept, NaN and infinities
// refused, booleans as "true"/"false", prices as whole micros). Owned by the event holding it;
// not synchronised: one thread at a time. Warnings always reach the system log.
#include <optional>
#include <string>

#include "kits/analytics/ORVDecimal.h"
#include "platform/foundation/Value.h"

class ORVAttributeDictionary {
 public:
  ORVAttributeDictionary() = default;
  // Adds every entry of `dictionary` in its enumeration order.
  explicit ORVAttributeDictionary(const tw::Dictionary& dictionary);
  // As above for entries whose keys may be of any type (a non-string key is refused).
  explicit ORVAttributeDictionary(const std::vector<std::pair<tw::Value, tw::Value>>& entries);

  std::string description() const;
  const tw::Dictionary& dictionaryRepresentation() const { return rawDictionary_; }

  void addAttribute(const tw::Value& value, const tw::Value& key);
  void addBooleanAttribute(const tw::Value& value, const tw::Value& key);
  void addPriceAttribute(const std::optional<tw::Decimal>& price, const tw::Value& key);

  static bool validAttributeValue(const tw::Value& value);
  static tw::Value serializeAttributeValue(const tw::Value& value);
  // The first 100 UTF-16 units (never half a surrogate pair), with a warning when cut.
  static std::string truncateString(const std::string& string);
  static tw::Value serializeSuccess(const tw::Value& success);
  static tw::Value serializePriceToMicros(const std::optional<tw::Decimal>& price);
  static tw::Value serializeNumber(const tw::Value& number);

  const tw::Dictionary& rawDictionary() const { return rawDictionary_; }
  void setRawDictionary(tw::Dictionary d) { rawDictionary_ = std::move(d); }

  static constexpr std::size_t kMaxAttributes = 21;
  static constexpr std::size_t kMaxLength = 100;

 private:
  tw::Dictionary rawDictionary_;
};
