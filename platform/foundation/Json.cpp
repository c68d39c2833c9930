#include "platform/foundation/Json.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace tw {

namespace {

using nlohmann::json;

// Builds Values straight from the parser's events, so no intermediate document is made and the
// nesting limit applies before anything deep is built.
class ValueBuilder : public nlohmann::json_sax<json> {
 public:
  Value result;
  std::string error;

  bool null() override { return add(Value()); }
  bool boolean(bool b) override { return add(Value(b)); }
  bool number_integer(number_integer_t i) override { return add(Value(std::int64_t{i})); }
  bool number_unsigned(number_unsigned_t u) override {
    // The parser calls every non-negative integer unsigned; keep the signed kind wherever it
    // fits so 5 reads as the same kind of number however it was written.
    if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return add(Value(static_cast<std::int64_t>(u)));
    return add(Value(std::uint64_t{u}));
  }
  bool number_float(number_float_t d, const string_t&) override { return add(Value(double{d})); }
  bool string(string_t& s) override { return add(Value(std::move(s))); }
  bool binary(binary_t&) override {
    error = "binary values are not JSON";
    return false;
  }
  bool start_object(std::size_t) override {
    if (!deeper()) return false;
    frames_.push_back(Frame{true, {}, {}, {}});
    return true;
  }
  bool key(string_t& k) override {
    frames_.back().pendingKey = std::move(k);
    return true;
  }
  bool end_object() override {
    Frame f = std::move(frames_.back());
    frames_.pop_back();
    return add(Value(std::move(f.dict)));
  }
  bool start_array(std::size_t) override {
    if (!deeper()) return false;
    frames_.push_back(Frame{false, {}, {}, {}});
    return true;
  }
  bool end_array() override {
    Frame f = std::move(frames_.back());
    frames_.pop_back();
    return add(Value(std::move(f.array)));
  }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& ex) override {
    std::string what = ex.what();
    // Drop the library's "[json.exception.parse_error.101] " tag; keep the readable part.
    if (auto close = what.find("] ");
        what.rfind("[json.exception", 0) == 0 && close != std::string::npos)
      what = what.substr(close + 2);
    error = fmt::format("invalid JSON at byte {}: {}", position, what);
    return false;
  }

 private:
  struct Frame {
    bool isObject;
    Dictionary dict;
    Array array;
    std::string pendingKey;
  };
  std::vector<Frame> frames_;

  bool deeper() {
    if (frames_.size() >= static_cast<std::size_t>(Json::kMaxDepth)) {
      error = fmt::format("invalid JSON: nested deeper than {} levels", Json::kMaxDepth);
      return false;
    }
    return true;
  }

  bool add(Value v) {
    if (frames_.empty()) {
      result = std::move(v);
      return true;
    }
    Frame& f = frames_.back();
    if (f.isObject)
      f.dict.insert_or_assign(std::move(f.pendingKey), std::move(v));  // a repeated key: last wins
    else
      f.array.push_back(std::move(v));
    return true;
  }
};

json toJson(const Value& v) {
  switch (v.type()) {
    case Value::Type::Null:
      return nullptr;
    case Value::Type::Bool:
      return *v.boolIfBool();
    case Value::Type::Int:
      return *v.intIfInt();
    case Value::Type::UInt:
      return *v.uintIfUInt();
    case Value::Type::Double: {
      double d = *v.doubleIfDouble();
      if (!std::isfinite(d)) return nullptr;
      return d;
    }
    case Value::Type::String:
      return *v.string();
    case Value::Type::Data:
      return Json::base64Encode(*v.data());
    case Value::Type::Date:
      return Json::dateString(*v.date());
    case Value::Type::Array: {
      json out = json::array();
      for (const Value& e : *v.array()) out.push_back(toJson(e));
      return out;
    }
    case Value::Type::Dictionary: {
      json out = json::object();
      for (const auto& [k, e] : *v.dictionary()) out[k] = toJson(e);
      return out;
    }
    case Value::Type::Object:
      return nullptr;
  }
  return nullptr;
}

// Compact text written straight from the values: the bytes the library's dump gives, without
// building its document first (a log line's JSON is made on the caller's thread). Strings that
// need escaping or repair, and numbers with a fraction, are left to the library, which decides
// their exact form.
void appendCompactString(const std::string& s, std::string& out) {
  bool plain = std::all_of(s.begin(), s.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x80 && c != '"' && c != '\\';
  });
  if (!plain) {
    out += json(s).dump(-1, ' ', false, json::error_handler_t::replace);
    return;
  }
  out.push_back('"');
  out += s;
  out.push_back('"');
}

template <class Integer>
void appendInteger(Integer i, std::string& out) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, i).ptr;
  out.append(digits, end);
}

void appendCompact(const Value& v, std::string& out) {
  switch (v.type()) {
    case Value::Type::Bool:
      out += *v.boolIfBool() ? "true" : "false";
      return;
    case Value::Type::Int:
      appendInteger(*v.intIfInt(), out);
      return;
    case Value::Type::UInt:
      appendInteger(*v.uintIfUInt(), out);
      return;
    case Value::Type::Double: {
      double d = *v.doubleIfDouble();
      out += std::isfinite(d) ? json(d).dump() : "null";
      return;
    }
    case Value::Type::String:
      appendCompactString(*v.string(), out);
      return;
    case Value::Type::Data:
      appendCompactString(Json::base64Encode(*v.data()), out);
      return;
    case Value::Type::Date:
      appendCompactString(Json::dateString(*v.date()), out);
      return;
    case Value::Type::Array: {
      out.push_back('[');
      bool first = true;
      for (const Value& e : *v.array()) {
        if (!first) out.push_back(',');
        first = false;
        appendCompact(e, out);
      }
      out.push_back(']');
      return;
    }
    case Value::Type::Dictionary: {
      out.push_back('{');
      bool first = true;
      for (const auto& [k, e] : *v.dictionary()) {
        if (!first) out.push_back(',');
        first = false;
        appendCompactString(k, out);
        out.push_back(':');
        appendCompact(e, out);
      }
      out.push_back('}');
      return;
    }
    case Value::Type::Null:
    case Value::Type::Object:
      out += "null";
      return;
  }
  out += "null";
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

bool readInt(std::string_view s, std::size_t& i, int digits, int& out) {
  out = 0;
  for (int k = 0; k < digits; ++k, ++i) {
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    out = out * 10 + (s[i] - '0');
  }
  return true;
}

}  // namespace

Expected<Value> Json::parse(std::string_view text) {
  ValueBuilder builder;
  bool ok = false;
  try {
    ok = json::sax_parse(text.begin(), text.end(), &builder, nlohmann::detail::input_format_t::json,
                         true, false);
  } catch (const std::exception& e) {
    return Expected<Value>::failure(std::string("invalid JSON: ") + e.what());
  }
  if (!ok) return Expected<Value>::failure(builder.error.empty() ? "invalid JSON" : builder.error);
  return std::move(builder.result);
}

std::string Json::write(const Value& value, bool pretty) {
  try {
    if (!pretty) {
      std::string out;
      appendCompact(value, out);
      return out;
    }
    return toJson(value).dump(2, ' ', false, json::error_handler_t::replace);
  } catch (const std::exception&) {
    return "null";  // not reachable with the replace handler; kept so write() never throws
  }
}

std::string Json::dateString(const Date& date) {
  double t = date.secondsSince1970;
  if (!std::isfinite(t)) t = 0;
  double whole = std::floor(t);
  long millis = std::lround((t - whole) * 1000.0);
  if (millis == 1000) {
    whole += 1;
    millis = 0;
  }
  time_t secs = static_cast<time_t>(whole);
  struct tm tmv {};
  if (!gmtime_r(&secs, &tmv)) return "1970-01-01T00:00:00Z";
  char buf[64];
  strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tmv);
  std::string out = buf;
  if (millis != 0) out += fmt::format(".{:03d}", millis);
  out += 'Z';
  return out;
}

Expected<Date> Json::parseDateString(std::string_view s) {
  auto fail = [&] {
    return Expected<Date>::failure(fmt::format("not an ISO 8601 date: \"{}\"", s));
  };
  std::size_t i = 0;
  struct tm tmv {};
  int year, month, day, hour, minute, second;
  if (!readInt(s, i, 4, year) || i >= s.size() || s[i++] != '-' || !readInt(s, i, 2, month) ||
      i >= s.size() || s[i++] != '-' || !readInt(s, i, 2, day) || i >= s.size() ||
      (s[i] != 'T' && s[i] != 't' && s[i] != ' '))
    return fail();
  ++i;
  if (!readInt(s, i, 2, hour) || i >= s.size() || s[i++] != ':' || !readInt(s, i, 2, minute) ||
      i >= s.size() || s[i++] != ':' || !readInt(s, i, 2, second))
    return fail();
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return fail();
  double fraction = 0;
  if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
    ++i;
    double scale = 0.1;
    std::size_t start = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      fraction += (s[i] - '0') * scale;
      scale /= 10;
      ++i;
    }
    if (i == start) return fail();
  }
  long offset = 0;
  if (i < s.size() && (s[i] == 'Z' || s[i] == 'z')) {
    ++i;
  } else if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    int sign = s[i++] == '-' ? -1 : 1;
    int oh, om = 0;
    if (!readInt(s, i, 2, oh)) return fail();
    if (i < s.size() && s[i] == ':') ++i;
    if (i < s.size() && !readInt(s, i, 2, om)) return fail();
    offset = sign * (oh * 3600L + om * 60L);
  } else {
    return fail();
  }
  if (i != s.size()) return fail();
  tmv.tm_year = year - 1900;
  tmv.tm_mon = month - 1;
  tmv.tm_mday = day;
  tmv.tm_hour = hour;
  tmv.tm_min = minute;
  tmv.tm_sec = second;
  time_t t = timegm(&tmv);
  return Date{static_cast<double>(t - offset) + fraction};
}

std::string Json::base64Encode(const Data& data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    unsigned n = (unsigned{data[i]} << 16) | (unsigned{data[i + 1]} << 8) | data[i + 2];
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += kBase64[(n >> 6) & 63];
    out += kBase64[n & 63];
  }
  if (i + 1 == data.size()) {
    unsigned n = unsigned{data[i]} << 16;
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += "==";
  } else if (i + 2 == data.size()) {
    unsigned n = (unsigned{data[i]} << 16) | (unsigned{data[i + 1]} << 8);
    out += kBase64[(n >> 18) & 63];
    out += kBase64[(n >> 12) & 63];
    out += kBase64[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

Expected<Data> Json::base64Decode(std::string_view text) {
  Data out;
  out.reserve(text.size() / 4 * 3);
  unsigned acc = 0;
  int bits = 0;
  bool padding = false;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    int d = base64Digit(c);
    if (d < 0 || padding) return Expected<Data>::failure("invalid base64 text");
    acc = (acc << 6) | static_cast<unsigned>(d);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>((acc >> bits) & 0xFF));
    }
  }
  if (bits >= 6) return Expected<Data>::failure("invalid base64 text (truncated)");
  return out;
}

}  // namespace tw
