#include "app/Source/Controls/FlatButton.h"

#include <QPainter>
#include <QPainterPath>

FlatButton::FlatButton(QWidget* parent) : QPushButton(parent) {
  setFlat(true);
  setCursor(Qt::PointingHandCursor);
}

void FlatButton::setButtonColor(const QColor& color) {
  if (color == buttonColor_) return;
  buttonColor_ = color;
  update();
}

void FlatButton::setActiveButtonColor(const QColor& color) {
  if (color == activeButtonColor_) return;
  activeButtonColor_ = color;
  update();
}

void FlatButton::setCornerRadius(double radius) {
  cornerRadius_ = radius;
  update();
}

void FlatButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor fill = isDown() ? activeButtonColor_ : buttonColor_;
  QColor text(255, 255, 255);
  if (!isEnabled()) {
    fill.setAlphaF(static_cast<float>(fill.alphaF() * 0.4));
    text.setAlphaF(0.4);
  }
  QPainterPath path;
  path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius_, cornerRadius_);
  painter.fillPath(path, fill);
  if (hasFocus()) {
    // A keyboard user must see which button Space presses.
    painter.setPen(QPen(QColor(255, 255, 255, 220), 2.0));
    painter.drawPath(path);
  }
  painter.setPen(text);
  painter.setFont(font());
  painter.drawText(rect(), Qt::AlignCenter, this->text());
}
