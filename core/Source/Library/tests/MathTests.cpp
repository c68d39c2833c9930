#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "core/Source/Library/BTMath.h"

namespace {

TEST(Math, GcdAndLcmOfPairsTreatZeroAsNoAnswer) {
  EXPECT_EQ(bt_math_gcd(12, 18), 6u);
  EXPECT_EQ(bt_math_gcd(7, 13), 1u);
  EXPECT_EQ(bt_math_gcd(0, 5), 0u);
  EXPECT_EQ(bt_math_gcd(5, 0), 0u);
  EXPECT_EQ(bt_math_lcm(4, 6), 12u);
  EXPECT_EQ(bt_math_lcm(2, 10), 10u);
  EXPECT_EQ(bt_math_lcm(0, 10), 0u);
}

TEST(Math, ListsFoldFromTheLeft) {
  const std::uint64_t rates[] = {2, 10, 100};
  EXPECT_EQ(bt_math_lcm_list(rates, 3), 100u);
  EXPECT_EQ(bt_math_gcd_list(rates, 3), 2u);
  EXPECT_EQ(bt_math_lcm_list(rates, 0), 0u);
  EXPECT_EQ(bt_math_lcm_list(rates + 1, 1), 10u);
  const std::uint64_t withZero[] = {3, 0, 4};
  EXPECT_EQ(bt_math_lcm_list(withZero, 3), 0u);
  EXPECT_EQ(bt_math_gcd_list(withZero, 3), 0u);
}

TEST(Math, LcmBeyondSixtyFourBitsSaturatesInsteadOfWrapping) {
  // The primes below 100 multiply to about 2.3e36.
  std::vector<std::uint64_t> primes;
  for (std::uint64_t n = 2; n < 100; ++n) {
    bool prime = true;
    for (std::uint64_t d = 2; d * d <= n; ++d) prime = prime && n % d != 0;
    if (prime) primes.push_back(n);
  }
  EXPECT_EQ(bt_math_lcm_list(primes.data(), primes.size()),
            std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(bt_math_lcm(1ull << 63, 3), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(bt_math_lcm(1ull << 63, 2), 1ull << 63);
}

TEST(Math, DecimalGcdWorksAtTheGivenPrecision) {
  EXPECT_DOUBLE_EQ(bt_math_gcd_f(1, 0.5, 1.5), 0.5);
  EXPECT_DOUBLE_EQ(bt_math_gcd_f(2, 0.25, 0.1), 0.05);
  EXPECT_DOUBLE_EQ(bt_math_gcd_f(0, 4.9, 6.2), 2.0);  // truncated to 4 and 6
  EXPECT_DOUBLE_EQ(bt_math_gcd_f(2, 0.001, 3.0), 0.0);
  EXPECT_DOUBLE_EQ(bt_math_gcd_f(2, -1.0, 3.0), 0.0);
  const double values[] = {1.5, 2.25, 0.75};
  EXPECT_DOUBLE_EQ(bt_math_gcd_list_f(values, 3, 2), 0.75);
  EXPECT_DOUBLE_EQ(bt_math_gcd_list_f(values, 0, 2), 0.0);
  EXPECT_DOUBLE_EQ(bt_math_gcd_list_f(values, 1, 2), 1.5);
}

}  // namespace
