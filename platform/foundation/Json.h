#pragma once
// tw::Json: JSON text to and from tw::Value. Parsing never throws: invalid syntax, invalid UTF-8
// or absurd nesting come back as an error message. Integers keep their exact 64-bit value
// (signed, or unsigned above INT64_MAX); doubles are written shortest-round-trip and always with
// a fraction or exponent, so a double stays a double; booleans stay booleans.
//
// Values JSON has no form for are written as follows: a date as an ISO 8601 UTC string
// ("2023-11-14T22:13:20Z", with milliseconds when it has a fraction), data as a base64 string,
// NaN and infinities as null, an object reference as null. Parsing gives them back as those
// strings/nulls (JSON carries no type to tell them apart). A string that is not valid UTF-8 is
// written with U+FFFD in place of the bad bytes.
// Stateless; any thread.

#include <string>
#include <string_view>

#include "platform/foundation/Expected.h"
#include "platform/foundation/Value.h"

namespace tw {

class Json {
 public:
  Json() = delete;

  // Deeper nesting than this is refused as an error rather than risking the stack.
  static constexpr int kMaxDepth = 512;

  static Expected<Value> parse(std::string_view text);
  static std::string write(const Value& value, bool pretty = false);

  // ISO 8601 text of a date as write() puts it, and the reverse (accepts "Z" or "+hh:mm" zones
  // and optional fractional seconds); shared with callers that store dates as text.
  static std::string dateString(const Date& date);
  static Expected<Date> parseDateString(std::string_view text);

  static std::string base64Encode(const Data& data);
  static Expected<Data> base64Decode(std::string_view text);
};

}  // namespace tw
