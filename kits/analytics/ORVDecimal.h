#pragma once
// tw::Decimal: an exact decimal number (as prices are given), mantissa times ten to a power.
// Only what the analytics kit needs: parsing from text, scaling to whole micros. Value type;
// any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tw {

class Decimal {
 public:
  Decimal() = default;
  // "9.99", "-12", "0.000001", "1e3"; nullopt for anything else. "NaN" gives notANumber().
  static std::optional<Decimal> parse(std::string_view text);
  static Decimal notANumber();
  bool isNaN() const { return nan_; }
  bool isNegative() const { return negative_; }
  // The value times 10^6 rounded half-to-even to a whole number, or nullopt when its magnitude
  // exceeds INT64_MAX (or it is NaN).
  std::optional<std::int64_t> micros() const;
  std::string description() const;

 private:
  bool nan_ = false;
  bool negative_ = false;
  std::string digits_ = "0";  // no leading zeros except a lone "0"
  int exponent_ = 0;          // value = digits_ * 10^exponent_
};

}  // namespace tw
