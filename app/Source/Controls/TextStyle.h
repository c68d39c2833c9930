#pragma once
// Text colours and sizes set through a widget's palette and font. A style sheet would do the same
// but hands the widget, and every widget below it, to Qt's style-sheet engine, which re-matches
// the rules each time a widget is made, shown or moved to another parent: for the list rows and
// panes built before the first frame that was a fifth of the start-up.
//
// Main thread only.

#include <QColor>
#include <QFont>
#include <optional>

class QWidget;

namespace tw::app {

// The text of `widget` (and of the widgets below it that keep their parent's palette) in
// `color`; `pixelSize` > 0 sets the font's size in pixels, `weight` its weight.
void setTextStyle(QWidget* widget, const QColor& color, int pixelSize = 0,
                  std::optional<QFont::Weight> weight = std::nullopt);

// The text colour of `widget` while it is disabled.
void setDisabledTextColor(QWidget* widget, const QColor& color);

// A colour given as 0–255 channels and an opacity from 0 to 1, read as a style sheet's rgba()
// reads it, so the two spellings draw the same pixels.
QColor rgba(int red, int green, int blue, double opacity);

}  // namespace tw::app
