#include "core/Source/Model/BTArgb.h"

#include <cmath>

namespace {

// Truncation toward zero, then the low 8 bits, as an integer conversion would; values outside
// any integer range (and NaN) count as 0 rather than being undefined.
std::uint32_t byteOf(double component) {
  const double scaled = std::trunc(component * 255.0);
  if (!(std::fabs(scaled) < 9.2e18)) return 0;
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(scaled) & 0xFF);
}

double componentOf(std::uint32_t bits, int shift) {
  return static_cast<double>((bits >> shift) & 0xFF) / 255.0;
}

}  // namespace

std::int64_t BTArgbValue(const BTColor& color) {
  const std::uint32_t packed = byteOf(color.alpha) << 24 | byteOf(color.red) << 16 |
                               byteOf(color.green) << 8 | byteOf(color.blue);
  return static_cast<std::int64_t>(static_cast<std::int32_t>(packed));
}

BTColor BTColorWithArgb(std::int64_t argb) {
  const auto bits = static_cast<std::uint32_t>(argb);
  BTColor color;
  color.red = componentOf(bits, 16);
  color.green = componentOf(bits, 8);
  color.blue = componentOf(bits, 0);
  color.alpha = componentOf(bits, 24);
  return color;
}
