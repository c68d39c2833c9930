#include "kits/platform/net/URLRequest.h"

#include <strings.h>

namespace tw {

namespace {
bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}
}  // namespace

std::optional<std::string> headerValue(const HeaderList& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (sameName(key, name)) return value;
  }
  return std::nullopt;
}

void URLRequest::setValue(const std::optional<std::string>& value, std::string_view name) {
  std::erase_if(headers, [&](const auto& h) { return sameName(h.first, name); });
  if (value) headers.emplace_back(std::string(name), *value);
}

void URLRequest::addValue(const std::string& value, std::string_view name) {
  for (auto& [key, existing] : headers) {
    if (sameName(key, name)) {
      existing += ", " + value;
      return;
    }
  }
  headers.emplace_back(std::string(name), value);
}

}  // namespace tw
