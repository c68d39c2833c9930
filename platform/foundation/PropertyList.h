#pragma once
// tw::PropertyList: property lists (XML or binary, told apart by their first bytes) to and from
// tw::Value, over libplist. Reading never throws: truncated or garbage input, text that is not
// valid UTF-8, absurd nesting and keys or strings with an embedded NUL (which libplist would cut
// short or abort on) come back as an error message. Writing refuses keys and strings with a NUL
// for the same reason, rather than cutting them.
//
// Integers read as Int, or as UInt when above INT64_MAX; reals as Double. Dates hold 1933 to
// 2069 (later or earlier ones are clamped on writing); binary keeps microseconds, XML whole
// seconds (its date text has no fraction). Null and object references have no property-list form:
// writing a value that holds one fails with a message naming where it sits. Stateless; any thread.

#include <string>
#include <string_view>

#include "platform/foundation/Expected.h"
#include "platform/foundation/Value.h"

namespace tw {

class PropertyList {
 public:
  PropertyList() = delete;

  enum class Format { XML, Binary };

  static constexpr int kMaxDepth = 512;

  static Expected<Value> read(std::string_view bytes);
  static Expected<Value> read(const Data& bytes);
  // Which format the bytes claim to be in (binary by its "bplist00" magic, else XML).
  static Format detectFormat(std::string_view bytes);

  static Expected<Data> write(const Value& value, Format format);
  static Expected<std::string> writeXML(const Value& value);
  static Expected<Data> writeBinary(const Value& value);
};

}  // namespace tw
