#include "app/Source/Controls/ElidingLabel.h"

#include <QPainter>
#include <QStyle>

ElidingLabel::ElidingLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setWordWrap(false);
}

QSize ElidingLabel::minimumSizeHint() const {
  const QSize hint = QLabel::minimumSizeHint();
  const QMargins m = contentsMargins();
  return QSize(fontMetrics().horizontalAdvance(QChar(0x2026)) + m.left() + m.right(),
               hint.height());
}

bool ElidingLabel::isElided() const {
  return fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

void ElidingLabel::paintEvent(QPaintEvent*) {
  const QRect area = contentsRect();
  const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
  // The whole text stays within reach of the pointer.
  const QString tip = shown == text() ? QString() : text();
  if (toolTip() != tip) setToolTip(tip);
  QPainter painter(this);
  style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(),
                        shown, foregroundRole());
}
