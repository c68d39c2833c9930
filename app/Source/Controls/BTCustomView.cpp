#include "app/Source/Controls/BTCustomView.h"

#include <QPainter>

BTCustomView::BTCustomView(QWidget* parent) : QWidget(parent) { initializeSeparatorLineView(); }

void BTCustomView::initializeSeparatorLineView() {
  backgroundColor_ = Qt::transparent;
  layerBackgroundChanges_ = 0;
}

void BTCustomView::setBackgroundColor(const QColor& color) {
  if (color == backgroundColor_) return;
  backgroundColor_ = color;
  ++layerBackgroundChanges_;
  update();
}

void BTCustomView::paintEvent(QPaintEvent*) {
  if (backgroundColor_.alpha() == 0) return;
  QPainter painter(this);
  painter.fillRect(rect(), backgroundColor_);
}
