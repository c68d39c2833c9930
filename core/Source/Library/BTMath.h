#pragma once
// Greatest common divisor and least common multiple of unsigned integers and of decimals, for
// the tick scheduler's choice of a timer rate. Plain functions without state: any thread.

#include <cstddef>
#include <cstdint>

// 0 when either is 0; else Euclid's greatest common divisor.
std::uint64_t bt_math_gcd(std::uint64_t a, std::uint64_t b);
// 0 when either is 0; else a * b / gcd(a, b). A multiple beyond 64 bits saturates at UINT64_MAX
// rather than wrapping, so a caller that bounds the result never mistakes an overflow for a small
// value.
std::uint64_t bt_math_lcm(std::uint64_t a, std::uint64_t b);
// 0 for no values, the value itself for one, else the fold from the left (a 0 anywhere gives 0).
std::uint64_t bt_math_gcd_list(const std::uint64_t* values, std::size_t count);
std::uint64_t bt_math_lcm_list(const std::uint64_t* values, std::size_t count);
// gcd of two decimals at `precision` decimal places: both are scaled by 10^precision and
// truncated to whole numbers first. Negative or NaN inputs count as 0; huge ones saturate.
double bt_math_gcd_f(unsigned precision, double a, double b);
// The same fold over a list of decimals; 0 for no values.
double bt_math_gcd_list_f(const double* values, std::size_t count, unsigned precision);
