#include "kits/analytics/ORVDecimal.h"

#include <cctype>
#include <charconv>
#include <limits>

namespace tw {

std::optional<Decimal> Decimal::parse(std::string_view text) {
  if (text == "NaN") return notANumber();
  Decimal d;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) d.negative_ = text[i++] == '-';
  std::string digits;
  int exponent = 0;
  bool any = false, dot = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits.push_back(c);
      any = true;
      if (dot) --exponent;
    } else if (c == '.' && !dot) {
      dot = true;
    } else {
      break;
    }
  }
  if (!any) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    int e = 0;
    auto first = text.data() + i + 1, last = text.data() + text.size();
    if (first < last && *first == '+') ++first;
    auto [p, ec] = std::from_chars(first, last, e);
    if (ec != std::errc() || p != last || e > 400 || e < -400) return std::nullopt;
    exponent += e;
    i = text.size();
  }
  if (i != text.size()) return std::nullopt;
  auto nz = digits.find_first_not_of('0');
  d.digits_ = nz == std::string::npos ? "0" : digits.substr(nz);
  d.exponent_ = exponent;
  if (d.digits_ == "0") d.negative_ = false;
  return d;
}

Decimal Decimal::notANumber() {
  Decimal d;
  d.nan_ = true;
  return d;
}

std::optional<std::int64_t> Decimal::micros() const {
  if (nan_) return std::nullopt;
  int e = exponent_ + 6;
  std::string whole = digits_;
  std::string dropped;
  if (e >= 0) {
    if (digits_ != "0") {
      if (whole.size() + e > 20) return std::nullopt;
      whole.append(static_cast<std::size_t>(e), '0');
    }
  } else {
    std::size_t cut = static_cast<std::size_t>(-e);
    if (cut >= whole.size()) {
      dropped = std::string(cut - whole.size(), '0') + whole;
      whole = "0";
    } else {
      dropped = whole.substr(whole.size() - cut);
      whole.resize(whole.size() - cut);
    }
  }
  auto nz = whole.find_first_not_of('0');
  whole = nz == std::string::npos ? "0" : whole.substr(nz);
  if (whole.size() > 19) return std::nullopt;
  unsigned long long magnitude = std::stoull(whole);
  if (!dropped.empty()) {
    // Half to even on the dropped digits.
    bool above = dropped[0] > '5' ||
                 (dropped[0] == '5' && dropped.find_first_not_of('0', 1) != std::string::npos);
    bool half = dropped[0] == '5' && !above;
    if (above || (half && (magnitude & 1))) ++magnitude;
  }
  if (magnitude > static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max()))
    return std::nullopt;
  auto m = static_cast<std::int64_t>(magnitude);
  return negative_ ? -m : m;
}

std::string Decimal::description() const {
  if (nan_) return "NaN";
  std::string s = digits_;
  if (exponent_ > 0 && s != "0") {
    s.append(static_cast<std::size_t>(exponent_), '0');
  } else if (exponent_ < 0) {
    std::size_t frac = static_cast<std::size_t>(-exponent_);
    if (s.size() <= frac) s = std::string(frac - s.size() + 1, '0') + s;
    s.insert(s.size() - frac, ".");
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
  }
  return negative_ ? "-" + s : s;
}

}  // namespace tw
