#include "core/Source/Library/BTMath.h"

#include <cmath>
#include <limits>

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// Truncates toward zero into the unsigned range without undefined behaviour.
std::uint64_t truncateToUnsigned(double v) {
  if (!(v > 0)) return 0;  // negative, zero and NaN
  if (v >= 18446744073709551616.0) return kMax;
  return static_cast<std::uint64_t>(v);
}

std::uint64_t scaleFor(unsigned precision) {
  std::uint64_t s = 1;
  for (unsigned i = 0; i < precision; ++i) {
    if (s > kMax / 10) return kMax;
    s *= 10;
  }
  return s;
}

}  // namespace

std::uint64_t bt_math_gcd(std::uint64_t a, std::uint64_t b) {
  if (a == 0 || b == 0) return 0;
  while (b != 0) {
    std::uint64_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

std::uint64_t bt_math_lcm(std::uint64_t a, std::uint64_t b) {
  if (a == 0 || b == 0) return 0;
  std::uint64_t q = a / bt_math_gcd(a, b);
  if (q > kMax / b) return kMax;
  return q * b;
}

std::uint64_t bt_math_gcd_list(const std::uint64_t* values, std::size_t count) {
  if (count == 0 || values == nullptr) return 0;
  std::uint64_t r = values[0];
  for (std::size_t i = 1; i < count; ++i) r = bt_math_gcd(r, values[i]);
  return r;
}

std::uint64_t bt_math_lcm_list(const std::uint64_t* values, std::size_t count) {
  if (count == 0 || values == nullptr) return 0;
  std::uint64_t r = values[0];
  for (std::size_t i = 1; i < count; ++i) r = bt_math_lcm(r, values[i]);
  return r;
}

double bt_math_gcd_f(unsigned precision, double a, double b) {
  const std::uint64_t s = scaleFor(precision);
  const std::uint64_t ai = truncateToUnsigned(a * static_cast<double>(s));
  if (ai == 0) return 0;
  const std::uint64_t bi = truncateToUnsigned(b * static_cast<double>(s));
  return static_cast<double>(bt_math_gcd(ai, bi)) / static_cast<double>(s);
}

double bt_math_gcd_list_f(const double* values, std::size_t count, unsigned precision) {
  if (count == 0 || values == nullptr) return 0;
  double r = values[0];
  for (std::size_t i = 1; i < count; ++i) r = bt_math_gcd_f(precision, r, values[i]);
  return r;
}
