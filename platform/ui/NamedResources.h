#pragma once
// Named colours and images from the application's main bundle. Colours come from the bundle's
// "Colors.json" (name -> "#RRGGBB" or "#AARRGGBB"), read once; images are "<name>.png" (or
// ".svg") files among the bundle's resources. An unknown name gives nothing.
// Main thread only (images); colours from any thread.

#include <QColor>
#include <QIcon>
#include <optional>
#include <string_view>

namespace tw::ui {

std::optional<QColor> colorNamed(std::string_view name);
// A null icon for an unknown name.
QIcon imageNamed(std::string_view name);

}  // namespace tw::ui
