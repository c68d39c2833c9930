#include "kits/platform/net/TSYURLBuilder.h"

#include <cctype>
#include <cstring>
#include <string_view>

std::shared_ptr<TSYURLBuilder> TSYURLBuilder::URLWithBase(const std::string& base) {
  auto builder = std::make_shared<TSYURLBuilder>();
  builder->appendComponent(base);
  return builder;
}

std::string TSYURLBuilder::escapeString(const std::string& string) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(string.size());
  for (unsigned char c : string) {
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"%<>\\^`{|}[]", c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void TSYURLBuilder::appendComponent(const std::string& component) { URLString_ += component; }

void TSYURLBuilder::escapeAndAppendComponent(const std::string& component) {
  URLString_ += escapeString(component);
}

void TSYURLBuilder::appendValue(const tw::Value& value, const std::string& queryParam) {
  if (value.isNull()) return;
  URLString_ += queryParams_ == 0 ? "?" : "&";
  ++queryParams_;
  URLString_ += queryParam;
  URLString_ += "=";
  URLString_ += escapeString(value.string() ? *value.string() : value.description());
}

namespace {

// An absolute URL the URL session can send: a scheme, "://", a host (empty only for "file"), a
// port of digits up to 65535 if any, and no control character, space or DEL anywhere. Checked
// here rather than by the transfer library, which the process loads only for its first request
// (the kits build their addresses while the application starts).
bool isAbsoluteURL(std::string_view text) {
  for (unsigned char c : text)
    if (c <= 0x20 || c == 0x7F) return false;
  const auto colon = text.find(':');
  if (colon == 0 || colon == std::string_view::npos) return false;
  const std::string_view scheme = text.substr(0, colon);
  if (!std::isalpha(static_cast<unsigned char>(scheme[0]))) return false;
  for (unsigned char c : scheme)
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  if (text.substr(colon + 1, 2) != "//") return false;
  const std::string_view rest = text.substr(colon + 3);
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  if (const auto at = authority.rfind('@'); at != std::string_view::npos)
    authority.remove_prefix(at + 1);
  std::string_view host = authority, port;
  if (!authority.empty() && authority[0] == '[') {  // an IPv6 literal
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return false;
    host = authority.substr(0, close + 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty() && after[0] != ':') return false;
    if (!after.empty()) port = after.substr(1);
  } else if (const auto p = authority.find(':'); p != std::string_view::npos) {
    host = authority.substr(0, p);
    port = authority.substr(p + 1);
  }
  std::string lowerScheme(scheme);
  for (char& c : lowerScheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (host.empty() && lowerScheme != "file") return false;
  if (port.size() > 5) return false;
  for (unsigned char c : port)
    if (!std::isdigit(c)) return false;
  return port.empty() || std::stoul(std::string(port)) <= 65535;
}

}  // namespace

std::optional<std::string> TSYURLBuilder::URL() const {
  if (!isAbsoluteURL(URLString_)) return std::nullopt;
  return URLString_;
}
