#include "kits/analytics/ORVAttributeDictionary.h"

#include <cmath>

#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"

namespace {

// Length in UTF-16 units of the UTF-8 sequence starting with `lead` (a 4-byte sequence is a
// surrogate pair), and its byte count. Malformed bytes count as one unit each.
void unitAt(const std::string& s, std::size_t i, std::size_t& bytes, std::size_t& units) {
  auto c = static_cast<unsigned char>(s[i]);
  std::size_t n = c < 0x80           ? 1
                  : (c >> 5) == 0x6  ? 2
                  : (c >> 4) == 0xE  ? 3
                  : (c >> 3) == 0x1E ? 4
                                     : 1;
  if (i + n > s.size()) n = 1;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) n = 1;
  bytes = n;
  units = n == 4 ? 2 : 1;
}

}  // namespace

ORVAttributeDictionary::ORVAttributeDictionary(const tw::Dictionary& dictionary) {
  for (const auto& [key, value] : dictionary) addAttribute(value, tw::Value(key));
}

ORVAttributeDictionary::ORVAttributeDictionary(
    const std::vector<std::pair<tw::Value, tw::Value>>& entries) {
  for (const auto& [key, value] : entries) addAttribute(value, key);
}

std::string ORVAttributeDictionary::description() const {
  return tw::Value(rawDictionary_).description();
}

void ORVAttributeDictionary::addAttribute(const tw::Value& value, const tw::Value& key) {
  if (value.isNull() || key.isNull()) return;
  if (rawDictionary_.size() >= kMaxAttributes) {
    tw::log(tw::format(
        "[Oriseth] Maximum number of Event attributes exceeded. Ignoring entry %@:%@", key, value));
    return;
  }
  if (!key.isString()) {
    tw::log(
        tw::format("[Oriseth] Event attribute keys must be of type NSString. Ignoring entry %@:%@",
                   key, value));
    return;
  }
  if (!validAttributeValue(value)) {
    tw::log(
        tw::format("[Oriseth] Event attribute values must be of type NSString or NSNumber. "
                   "Ignoring entry %@:%@",
                   key, value));
    return;
  }
  std::string cutKey = truncateString(*key.string());
  tw::Value stored = serializeAttributeValue(value);
  if (stored.isNull()) {
    rawDictionary_.erase(cutKey);
  } else {
    rawDictionary_[cutKey] = std::move(stored);
  }
}

void ORVAttributeDictionary::addBooleanAttribute(const tw::Value& value, const tw::Value& key) {
  tw::Value k = key.isString() ? tw::Value(truncateString(*key.string())) : key;
  addAttribute(serializeSuccess(value), k);
}

void ORVAttributeDictionary::addPriceAttribute(const std::optional<tw::Decimal>& price,
                                               const tw::Value& key) {
  tw::Value k = key.isString() ? tw::Value(truncateString(*key.string())) : key;
  addAttribute(serializePriceToMicros(price), k);
}

bool ORVAttributeDictionary::validAttributeValue(const tw::Value& value) {
  return value.isString() || value.isNumber() || value.isBool();
}

tw::Value ORVAttributeDictionary::serializeAttributeValue(const tw::Value& value) {
  if (value.isString()) return tw::Value(truncateString(*value.string()));
  return serializeNumber(value);
}

std::string ORVAttributeDictionary::truncateString(const std::string& string) {
  std::size_t units = 0, i = 0, cutAt = std::string::npos;
  while (i < string.size()) {
    std::size_t bytes, u;
    unitAt(string, i, bytes, u);
    if (cutAt == std::string::npos && units + u > kMaxLength) cutAt = i;
    units += u;
    i += bytes;
  }
  if (units <= kMaxLength) return string;
  tw::log(tw::format(
      "[Oriseth] Maximum length for an Event attributes exceeded. Truncating to %u characters.",
      static_cast<unsigned>(kMaxLength)));
  return string.substr(0, cutAt);
}

tw::Value ORVAttributeDictionary::serializeSuccess(const tw::Value& success) {
  if (success.isNull()) return {};
  return tw::Value(success.boolValue() ? "true" : "false");
}

tw::Value ORVAttributeDictionary::serializePriceToMicros(const std::optional<tw::Decimal>& price) {
  if (!price || price->isNaN()) return {};
  // The bound applies to the magnitude, so a huge negative price is refused like a huge positive.
  auto micros = price->micros();
  if (!micros) {
    tw::log(
        tw::format("[Oriseth] Maximum value for a price attribute exceeded. Ignoring price "
                   "attribute with value: %@",
                   price->description()));
    return {};
  }
  return tw::Value(static_cast<long long>(*micros));
}

tw::Value ORVAttributeDictionary::serializeNumber(const tw::Value& number) {
  if (number.isNull()) return {};
  // Non-finite numbers have no JSON form; refusing the attribute keeps the event writable.
  if (auto d = number.doubleIfDouble(); d && !std::isfinite(*d)) return {};
  return number;
}
