#include "app/Source/Controls/IndicatorView.h"

#include <QPainter>
#include <QPainterPath>

IndicatorView::IndicatorView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
}

void IndicatorView::setFillColor(std::optional<QColor> color) {
  if (fill_ == color) return;
  fill_ = color;
  update();
}

void IndicatorView::setBorderColor(const QColor& color) {
  if (border_ == color) return;
  border_ = color;
  update();
}

void IndicatorView::paintEvent(QPaintEvent*) {
  constexpr double kRadius = 2.0;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QPainterPath path;
  path.addRoundedRect(box, kRadius, kRadius);
  if (fill_) painter.fillPath(path, *fill_);
  painter.setPen(QPen(border_, 1.0));
  painter.drawPath(path);
}
