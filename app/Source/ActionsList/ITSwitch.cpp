#include "app/Source/ActionsList/ITSwitch.h"

#include <QPainter>
#include <QPainterPath>

ITSwitch::ITSwitch(QWidget* parent) : QAbstractButton(parent), tintColor_(10, 132, 255) {
  setCheckable(true);
  setCursor(Qt::PointingHandCursor);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setFocusPolicy(Qt::TabFocus);
  // clicked is sent for the user's flips only, never for setChecked.
  QObject::connect(this, &QAbstractButton::clicked, this, [this] {
    if (action_) action_(this);
  });
}

void ITSwitch::setTintColor(const QColor& color) {
  tintColor_ = color;
  update();
}

void ITSwitch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QSize hint = sizeHint() - QSize(2 * kRingRoom, 2 * kRingRoom);
  const QRectF track(kRingRoom + 0.5, (height() - hint.height()) / 2.0 + 0.5, hint.width() - 1.0,
                     hint.height() - 1.0);
  const double radius = track.height() / 2.0;
  QColor fill = isChecked() ? tintColor_ : QColor(0, 0, 0, 60);
  if (!isEnabled()) fill.setAlphaF(fill.alphaF() * 0.5f);
  p.setPen(QPen(QColor(0, 0, 0, 40), 1.0));
  p.setBrush(fill);
  p.drawRoundedRect(track, radius, radius);
  const double knob = track.height() - 4.0;
  const double x = isChecked() ? track.right() - 2.0 - knob : track.left() + 2.0;
  p.setPen(QPen(QColor(0, 0, 0, 50), 0.5));
  p.setBrush(isDown() ? QColor(235, 235, 235) : QColor(Qt::white));
  p.drawEllipse(QRectF(x, track.top() + 2.0, knob, knob));
  // A ring apart from the track, drawn whole inside the widget, unlike anything the on and off
  // states draw.
  if (hasFocus()) {
    p.setPen(QPen(QColor(Qt::white), 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(track.adjusted(-2.0, -2.0, 2.0, 2.0), radius + 2.0, radius + 2.0);
  }
}
