#pragma once
// Named colours of the framework: list chrome ("OverlayDark10" ... "OverlayDark40", and the
// light overlays "OverlayLight10" ... "OverlayLight40"), running states ("TimingStateGreen",
// "TimingStateYellow", "TimingStateRed", "TimingStateGreenDim", "TimingStateRedDim") and the
// view-mode gradients ("Gradient{Purple,Blue,Green}{Start,Middle,End}"). The values come from a
// table of our own, kept as 0xAARRGGBB; the core hands out plain colour values and the
// application turns them into toolkit colours.
// No state; any thread.

#include <cstdint>
#include <optional>
#include <string_view>

// A colour as red, green, blue and alpha components from 0 to 1.
struct BTColor {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;

  static BTColor fromARGB(std::uint32_t argb);
  // Rounded to 8 bits a component.
  std::uint32_t argb() const;
  // The same colour with `alpha` in place of its own (clamped to 0...1).
  BTColor withAlpha(double alpha) const;

  friend bool operator==(const BTColor&, const BTColor&) = default;
};

// The named colour; nullopt for a name the table does not know.
std::optional<BTColor> BTColorNamed(std::string_view name);
// That colour with the given alpha in place of its own.
std::optional<BTColor> BTColorNamedWithAlpha(std::string_view name, double alpha);
