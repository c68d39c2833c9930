#pragma once
// Layer-style properties of a widget: alpha (the whole widget's opacity, children included),
// and a painted backdrop with corner radius, border and background colour drawn beneath the
// widget's own painting. Styles are kept by a small object owned by the widget.
// Main thread only.

#include <QColor>
#include <QWidget>

namespace tw::ui {

// 1.0 for a widget never made translucent.
double alpha(const QWidget* widget);
// Values are clamped to 0...1; 1.0 removes the opacity effect, so opaque widgets paint directly.
void setAlpha(QWidget* widget, double value);

struct LayerStyle {
  double cornerRadius = 0;
  double borderWidth = 0;
  QColor borderColor = Qt::transparent;
  QColor backgroundColor = Qt::transparent;

  // The style set on `widget` (the defaults when none was).
  static LayerStyle of(const QWidget* widget);
  // Sets the style and repaints; the widget paints it beneath its own painting.
  static void apply(QWidget* widget, const LayerStyle& style);
};

}  // namespace tw::ui
