#include "app/Source/Controls/TextStyle.h"

#include <QPalette>
#include <QWidget>

namespace tw::app {

void setTextStyle(QWidget* widget, const QColor& color, int pixelSize,
                  std::optional<QFont::Weight> weight) {
  QPalette palette = widget->palette();
  for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    palette.setColor(role, color);
  widget->setPalette(palette);
  if (pixelSize <= 0 && !weight) return;
  QFont font = widget->font();
  if (pixelSize > 0) font.setPixelSize(pixelSize);
  if (weight) font.setWeight(*weight);
  widget->setFont(font);
}

void setDisabledTextColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    palette.setColor(QPalette::Disabled, role, color);
  widget->setPalette(palette);
}

QColor rgba(int red, int green, int blue, double opacity) {
  // Truncated, not rounded: that is how a style sheet's rgba() reads an opacity.
  return {red, green, blue, static_cast<int>(opacity * 255.0)};
}

}  // namespace tw::app
