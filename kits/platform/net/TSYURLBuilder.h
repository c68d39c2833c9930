#pragma once
// TSYURLBuilder: assembles the kits' service URLs from a base, path pieces and query parameters,
// escaping only the pieces that come from outside (identifiers, versions). Owned by its caller;
// one thread at a time.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class TSYURLBuilder {
 public:
  static std::shared_ptr<TSYURLBuilder> URLWithBase(const std::string& base);
  TSYURLBuilder() = default;

  // Percent-escapes (UTF-8) what may never stand in a URL: controls, space, '"', '%', '<', '>',
  // '\\', '^', '`', '{', '|', '}', '[', ']' and every non-ASCII byte. Delimiters stay.
  static std::string escapeString(const std::string& string);
  void appendComponent(const std::string& component);
  void escapeAndAppendComponent(const std::string& component);
  // A null value adds nothing; the name is never escaped, the value always is.
  void appendValue(const tw::Value& value, const std::string& queryParam);
  // The text when it parses as an absolute URL, else nullopt.
  std::optional<std::string> URL() const;

  const std::string& URLString() const { return URLString_; }
  void setURLString(std::string s) { URLString_ = std::move(s); }
  std::uint64_t queryParams() const { return queryParams_; }
  void setQueryParams(std::uint64_t n) { queryParams_ = n; }

 private:
  std::string URLString_;
  std::uint64_t queryParams_ = 0;
};
