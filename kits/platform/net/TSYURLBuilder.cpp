#include "kits/platform/net/TSYURLBuilder.h"

#include <curl/curl.h>

#include <cstring>

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

std::optional<std::string> TSYURLBuilder::URL() const {
  CURLU* url = curl_url();
  if (!url) return std::nullopt;
  CURLUcode rc = curl_url_set(url, CURLUPART_URL, URLString_.c_str(), 0);
  curl_url_cleanup(url);
  if (rc != CURLUE_OK) return std::nullopt;
  return URLString_;
}
