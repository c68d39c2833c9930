#include "app/Source/ActionEditor/ColorWell.h"

#include <QColorDialog>
#include <QPainter>
#include <QPainterPath>

namespace tw::app {

ColorWell::ColorWell(QWidget* parent) : QPushButton(parent) {
  setCursor(Qt::PointingHandCursor);
  QObject::connect(this, &QPushButton::clicked, this, [this] {
    const QColor chosen =
        QColorDialog::getColor(color_, window(), QString(), QColorDialog::ShowAlphaChannel);
    // An invalid colour is a cancelled chooser: nothing changes.
    if (chosen.isValid()) chooseColor(chosen);
  });
}

void ColorWell::setColor(const QColor& color) {
  color_ = color;
  update();
}

void ColorWell::chooseColor(const QColor& color) {
  setColor(color);
  if (handler_) handler_(this);
}

void ColorWell::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QPainterPath path;
  path.addRoundedRect(frame, 4, 4);
  p.setClipPath(path);
  // The checkerboard shows through a translucent colour.
  for (int y = 0; y < height(); y += 6)
    for (int x = 0; x < width(); x += 6)
      p.fillRect(x, y, 6, 6, ((x + y) / 6) % 2 ? QColor(204, 204, 204) : QColor(Qt::white));
  p.fillRect(rect(), color_);
  p.setClipping(false);
  p.setPen(QPen(QColor(0, 0, 0, isDown() ? 140 : 70), 1.0));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
}

}  // namespace tw::app
