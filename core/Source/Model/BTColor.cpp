#include "core/Source/Model/BTColor.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr std::pair<std::string_view, std::uint32_t> kColors[] = {
    {"OverlayDark10", 0x1A000000},        {"OverlayDark20", 0x33000000},
    {"OverlayDark30", 0x4D000000},        {"OverlayDark40", 0x66000000},
    {"OverlayLight10", 0x1AFFFFFF},       {"OverlayLight20", 0x33FFFFFF},
    {"OverlayLight30", 0x4DFFFFFF},       {"OverlayLight40", 0x66FFFFFF},
    {"TimingStateGreen", 0xFF34C759},     {"TimingStateYellow", 0xFFFFCC00},
    {"TimingStateRed", 0xFFFF3B30},       {"TimingStateGreenDim", 0xFF1F7A3A},
    {"TimingStateRedDim", 0xFFA32A22},    {"GradientPurpleStart", 0xFF9B4DE0},
    {"GradientPurpleMiddle", 0xFF7A3BD1}, {"GradientPurpleEnd", 0xFF5527B8},
    {"GradientBlueStart", 0xFF3FA9F5},    {"GradientBlueMiddle", 0xFF2A7FE0},
    {"GradientBlueEnd", 0xFF1D55C4},      {"GradientGreenStart", 0xFF5FD08A},
    {"GradientGreenMiddle", 0xFF36B36B},  {"GradientGreenEnd", 0xFF1E8C50},
};

double component(std::uint32_t argb, int shift) { return ((argb >> shift) & 0xFF) / 255.0; }

std::uint32_t byte(double c) {
  return static_cast<std::uint32_t>(std::lround(std::clamp(c, 0.0, 1.0) * 255.0));
}

}  // namespace

BTColor BTColor::fromARGB(std::uint32_t argb) {
  return BTColor{component(argb, 16), component(argb, 8), component(argb, 0), component(argb, 24)};
}

std::uint32_t BTColor::argb() const {
  return byte(alpha) << 24 | byte(red) << 16 | byte(green) << 8 | byte(blue);
}

BTColor BTColor::withAlpha(double newAlpha) const {
  BTColor out = *this;
  // NaN would poison every later blend; treat it as fully transparent.
  out.alpha = std::isnan(newAlpha) ? 0.0 : std::clamp(newAlpha, 0.0, 1.0);
  return out;
}

std::optional<BTColor> BTColorNamed(std::string_view name) {
  for (const auto& [colorName, argb] : kColors)
    if (colorName == name) return BTColor::fromARGB(argb);
  return std::nullopt;
}

std::optional<BTColor> BTColorNamedWithAlpha(std::string_view name, double alpha) {
  auto color = BTColorNamed(name);
  if (!color) return std::nullopt;
  return color->withAlpha(alpha);
}
