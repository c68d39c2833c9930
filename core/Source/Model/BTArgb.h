#pragma once
// A colour packed into the low 32 bits of a signed 64-bit integer (alpha in bits 24-31, red
// 16-23, green 8-15, blue 0-7): how the flash-screen action stores its colour. The packed value
// is the 32-bit pattern sign-extended, so opaque colours are negative (opaque white is -1).
// These are the colour's "argbValue" and "colorWithArgb", over the core's plain colour value
// (BTColor). Unlike BTColor::argb(), which rounds, packing truncates each component, as the
// stored values have always been made. Plain functions: any thread.

#include <cstdint>

#include "core/Source/Model/BTColor.h"

// Each component times 255, truncated toward zero and kept to its low 8 bits.
std::int64_t BTArgbValue(const BTColor& color);
// Reads only the low 32 bits of `argb`; each component is its byte / 255.
BTColor BTColorWithArgb(std::int64_t argb);
