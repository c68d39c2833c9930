#include "platform/foundation/Value.h"

#include <locale.h>
#include <stdlib.h>
#include <time.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>

#include <fmt/format.h>

#include "platform/foundation/Object.h"

namespace tw {

namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The string scanners stop at the first character that does not fit, so every parse below reads
// a prefix and ignores the rest.
std::string_view skipSpace(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && isSpace(s[i])) ++i;
  return s.substr(i);
}

bool stringBool(std::string_view s) {
  s = skipSpace(s);
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < s.size() && s[i] == '0') ++i;
  if (i >= s.size()) return false;
  char c = s[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::int64_t stringInteger(std::string_view s) {
  s = skipSpace(s);
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  // Accumulate as unsigned magnitude so INT64_MIN parses exactly; overflow clamps.
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (; i < s.size() && isDigit(s[i]); ++i) {
    unsigned d = static_cast<unsigned>(s[i] - '0');
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
      overflow = true;
      break;
    }
    magnitude = magnitude * 10 + d;
  }
  if (negative) {
    constexpr std::uint64_t limit = std::uint64_t{1} << 63;
    if (overflow || magnitude >= limit) return std::numeric_limits<std::int64_t>::min();
    return -static_cast<std::int64_t>(magnitude);
  }
  if (overflow || magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(magnitude);
}

std::uint64_t stringUnsigned(std::string_view s) {
  s = skipSpace(s);
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') {
      // A negative text has no unsigned reading; clamp rather than wrap.
      return 0;
    }
    ++i;
  }
  std::uint64_t value = 0;
  for (; i < s.size() && isDigit(s[i]); ++i) {
    unsigned d = static_cast<unsigned>(s[i] - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10)
      return std::numeric_limits<std::uint64_t>::max();
    value = value * 10 + d;
  }
  return value;
}

locale_t cLocale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

double stringDouble(std::string_view s) {
  s = skipSpace(s);
  // Take only a plain decimal prefix: strtod alone would also accept hex, "inf" and "nan", which
  // would let stored text turn into values no setting can hold.
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && isDigit(s[j])) {
      while (j < s.size() && isDigit(s[j])) ++j;
      i = j;
    }
  }
  std::string text(s.substr(0, i));
  return strtod_l(text.c_str(), nullptr, cLocale());
}

std::int64_t doubleToInt(double d) {
  if (std::isnan(d)) return 0;
  if (d >= kTwoTo63) return std::numeric_limits<std::int64_t>::max();
  if (d < -kTwoTo63) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(d);  // truncates toward zero
}

std::uint64_t doubleToUInt(double d) {
  if (std::isnan(d) || d <= -1.0) return 0;
  if (d >= kTwoTo64) return std::numeric_limits<std::uint64_t>::max();
  if (d < 0) return 0;
  return static_cast<std::uint64_t>(d);
}

// Exact comparison of an integer and a double, without the rounding a plain cast would bring in.
bool intEqualsDouble(std::int64_t i, double d) {
  if (std::isnan(d) || d < -kTwoTo63 || d >= kTwoTo63) return false;
  if (d != std::trunc(d)) return false;
  return static_cast<std::int64_t>(d) == i;
}

bool uintEqualsDouble(std::uint64_t u, double d) {
  if (std::isnan(d) || d < 0 || d >= kTwoTo64) return false;
  if (d != std::trunc(d)) return false;
  return static_cast<std::uint64_t>(d) == u;
}

std::string formatDouble(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
  // Whole numbers within the exact range read as integers ("3", not "3e+00").
  if (d == std::trunc(d) && std::fabs(d) < 1e15)
    return fmt::format("{}", static_cast<std::int64_t>(d));
  return fmt::format("{}", d);
}

std::string formatDate(const Date& date) {
  double whole = std::floor(date.secondsSince1970);
  time_t t = static_cast<time_t>(whole);
  struct tm tmv {};
  if (!gmtime_r(&t, &tmv)) return formatDouble(date.secondsSince1970);
  char buf[64];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tmv);
  return buf;
}

std::string formatData(const Data& data) {
  std::string out = fmt::format("{{length = {}, bytes = 0x", data.size());
  constexpr std::size_t kShown = 24;
  if (data.size() <= kShown) {
    for (auto b : data) out += fmt::format("{:02x}", b);
  } else {
    for (std::size_t i = 0; i < 16; ++i) out += fmt::format("{:02x}", data[i]);
    out += " ... ";
    for (std::size_t i = data.size() - 8; i < data.size(); ++i)
      out += fmt::format("{:02x}", data[i]);
  }
  out += "}";
  return out;
}

// Strings inside collections are quoted unless they are a plain word, so descriptions in logs
// show where one string ends and the next begins.
std::string quotedIfNeeded(const std::string& s) {
  bool plain = !s.empty();
  for (char c : s) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '_' ||
              c == '.' || c == '$' || c == ':' || c == '/';
    if (!ok) {
      plain = false;
      break;
    }
  }
  if (plain) return s;
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  out += '"';
  return out;
}

void describe(const Value& v, int indent, std::string& out);

void describeNested(const Value& v, int indent, std::string& out) {
  if (const std::string* s = v.string()) {
    out += quotedIfNeeded(*s);
  } else if (v.date()) {
    out += quotedIfNeeded(v.description());
  } else {
    describe(v, indent, out);
  }
}

void describe(const Value& v, int indent, std::string& out) {
  const std::string pad(static_cast<std::size_t>(indent) * 4, ' ');
  const std::string inner(static_cast<std::size_t>(indent + 1) * 4, ' ');
  if (const Array* a = v.array()) {
    out += "(\n";
    for (std::size_t i = 0; i < a->size(); ++i) {
      out += inner;
      describeNested((*a)[i], indent + 1, out);
      if (i + 1 < a->size()) out += ',';
      out += '\n';
    }
    out += pad + ")";
  } else if (const Dictionary* d = v.dictionary()) {
    out += "{\n";
    for (const auto& [key, value] : *d) {
      out += inner + quotedIfNeeded(key) + " = ";
      describeNested(value, indent + 1, out);
      out += ";\n";
    }
    out += pad + "}";
  } else {
    out += v.description();
  }
}

}  // namespace

const tw::Data* Value::data() const {
  auto p = std::get_if<std::shared_ptr<const tw::Data>>(&v_);
  return p ? p->get() : nullptr;
}

const tw::Array* Value::array() const {
  auto p = std::get_if<std::shared_ptr<const tw::Array>>(&v_);
  return p ? p->get() : nullptr;
}

const tw::Dictionary* Value::dictionary() const {
  auto p = std::get_if<std::shared_ptr<const tw::Dictionary>>(&v_);
  return p ? p->get() : nullptr;
}

std::shared_ptr<Object> Value::object() const {
  auto p = std::get_if<std::shared_ptr<Object>>(&v_);
  return p ? *p : nullptr;
}

std::optional<bool> Value::boolIfBool() const {
  if (auto p = std::get_if<bool>(&v_)) return *p;
  return std::nullopt;
}

std::optional<std::int64_t> Value::intIfInt() const {
  if (auto p = std::get_if<std::int64_t>(&v_)) return *p;
  return std::nullopt;
}

std::optional<std::uint64_t> Value::uintIfUInt() const {
  if (auto p = std::get_if<std::uint64_t>(&v_)) return *p;
  return std::nullopt;
}

std::optional<double> Value::doubleIfDouble() const {
  if (auto p = std::get_if<double>(&v_)) return *p;
  return std::nullopt;
}

bool Value::boolValue() const {
  switch (type()) {
    case Type::Bool:
      return std::get<bool>(v_);
    case Type::Int:
      return std::get<std::int64_t>(v_) != 0;
    case Type::UInt:
      return std::get<std::uint64_t>(v_) != 0;
    case Type::Double: {
      double d = std::get<double>(v_);
      return !std::isnan(d) && d != 0;
    }
    case Type::String:
      return stringBool(std::get<std::string>(v_));
    default:
      return false;
  }
}

std::int64_t Value::integerValue() const {
  switch (type()) {
    case Type::Bool:
      return std::get<bool>(v_) ? 1 : 0;
    case Type::Int:
      return std::get<std::int64_t>(v_);
    case Type::UInt: {
      auto u = std::get<std::uint64_t>(v_);
      constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
      return u > max ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(u);
    }
    case Type::Double:
      return doubleToInt(std::get<double>(v_));
    case Type::String:
      return stringInteger(std::get<std::string>(v_));
    default:
      return 0;
  }
}

std::uint64_t Value::unsignedValue() const {
  switch (type()) {
    case Type::Bool:
      return std::get<bool>(v_) ? 1 : 0;
    case Type::Int: {
      auto i = std::get<std::int64_t>(v_);
      return i < 0 ? 0 : static_cast<std::uint64_t>(i);
    }
    case Type::UInt:
      return std::get<std::uint64_t>(v_);
    case Type::Double:
      return doubleToUInt(std::get<double>(v_));
    case Type::String:
      return stringUnsigned(std::get<std::string>(v_));
    default:
      return 0;
  }
}

double Value::doubleValue() const {
  switch (type()) {
    case Type::Bool:
      return std::get<bool>(v_) ? 1.0 : 0.0;
    case Type::Int:
      return static_cast<double>(std::get<std::int64_t>(v_));
    case Type::UInt:
      return static_cast<double>(std::get<std::uint64_t>(v_));
    case Type::Double:
      return std::get<double>(v_);
    case Type::String:
      return stringDouble(std::get<std::string>(v_));
    default:
      return 0;
  }
}

std::string Value::description() const {
  switch (type()) {
    case Type::Null:
      return "(null)";
    case Type::Bool:
      return std::get<bool>(v_) ? "1" : "0";
    case Type::Int:
      return std::to_string(std::get<std::int64_t>(v_));
    case Type::UInt:
      return std::to_string(std::get<std::uint64_t>(v_));
    case Type::Double:
      return formatDouble(std::get<double>(v_));
    case Type::String:
      return std::get<std::string>(v_);
    case Type::Data:
      return formatData(*data());
    case Type::Date:
      return formatDate(std::get<tw::Date>(v_));
    case Type::Array:
    case Type::Dictionary: {
      std::string out;
      describe(*this, 0, out);
      return out;
    }
    case Type::Object: {
      auto o = object();
      return o ? o->description() : "(null)";
    }
  }
  return {};
}

const Value& Value::operator[](std::string_view key) const {
  const Dictionary* d = dictionary();
  if (!d) return null();
  auto it = d->find(key);
  return it == d->end() ? null() : it->second;
}

const Value& Value::at(std::size_t index) const {
  const Array* a = array();
  if (!a || index >= a->size()) return null();
  return (*a)[index];
}

std::size_t Value::count() const {
  if (const Array* a = array()) return a->size();
  if (const Dictionary* d = dictionary()) return d->size();
  return 0;
}

bool operator==(const Value& a, const Value& b) {
  using T = Value::Type;
  T ta = a.type(), tb = b.type();
  if (a.isNumber() && b.isNumber()) {
    if (ta == T::Int && tb == T::Int) return *a.intIfInt() == *b.intIfInt();
    if (ta == T::UInt && tb == T::UInt) return *a.uintIfUInt() == *b.uintIfUInt();
    if (ta == T::Double && tb == T::Double) return *a.doubleIfDouble() == *b.doubleIfDouble();
    if (ta == T::Int && tb == T::UInt) {
      auto i = *a.intIfInt();
      return i >= 0 && static_cast<std::uint64_t>(i) == *b.uintIfUInt();
    }
    if (ta == T::UInt && tb == T::Int) return b == a;
    if (ta == T::Int) return intEqualsDouble(*a.intIfInt(), *b.doubleIfDouble());
    if (ta == T::UInt) return uintEqualsDouble(*a.uintIfUInt(), *b.doubleIfDouble());
    return b == a;  // a is the double
  }
  if (ta != tb) return false;
  switch (ta) {
    case T::Null:
      return true;
    case T::Bool:
      return *a.boolIfBool() == *b.boolIfBool();
    case T::String:
      return *a.string() == *b.string();
    case T::Data:
      return *a.data() == *b.data();
    case T::Date:
      return *a.date() == *b.date();
    case T::Array:
      return *a.array() == *b.array();
    case T::Dictionary:
      return *a.dictionary() == *b.dictionary();
    case T::Object:
      return a.object() == b.object();
    default:
      return false;
  }
}

std::ostream& operator<<(std::ostream& os, const Value& v) {
  if (v.isString()) return os << '"' << *v.string() << '"';
  return os << v.description();
}

const Value& Value::null() {
  // Never destroyed: worker threads may still read it while the exit handlers run.
  static const Value& kNull = *new Value();
  return kNull;
}

}  // namespace tw
