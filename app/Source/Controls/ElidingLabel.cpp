#include "app/Source/Controls/ElidingLabel.h"

#include <QPainter>
#include <QStyle>
#include <algorithm>

QString tw::app::elideRight(const QString& text, const QFontMetrics& metrics, int width) {
  // No shown character is narrower than a pixel, so a prefix one character per pixel long holds
  // all that can be shown; the rest is never measured. A prefix that fits whole still stands
  // for a longer text: it ends in the ellipsis too.
  const qsizetype enough = std::max(width, 0) + 2;
  if (text.size() <= enough) return metrics.elidedText(text, Qt::ElideRight, width);
  qsizetype cut = enough;
  if (text.at(cut - 1).isHighSurrogate()) --cut;
  return metrics.elidedText(text.left(cut) + QChar(0x2026), Qt::ElideRight, width);
}

ElidingLabel::ElidingLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setWordWrap(false);
}

QSize ElidingLabel::sizeHint() const {
  // One line of plain text, as QLabel measures it, but of no more than can ever be shown.
  constexpr int kWidest = 8192;
  const QMargins m = contentsMargins();
  const QFontMetrics metrics = fontMetrics();
  return QSize(metrics.horizontalAdvance(tw::app::elideRight(text(), metrics, kWidest)),
               metrics.height()) +
         QSize(m.left() + m.right() + 2 * margin(), m.top() + m.bottom() + 2 * margin());
}

QSize ElidingLabel::minimumSizeHint() const {
  const QMargins m = contentsMargins();
  return QSize(fontMetrics().horizontalAdvance(QChar(0x2026)) + m.left() + m.right(),
               sizeHint().height());
}

bool ElidingLabel::isElided() const {
  return tw::app::elideRight(text(), fontMetrics(), contentsRect().width()) != text();
}

void ElidingLabel::paintEvent(QPaintEvent*) {
  const QRect area = contentsRect();
  const QString shown = tw::app::elideRight(text(), fontMetrics(), area.width());
  // The whole text stays within reach of the pointer.
  const QString tip = shown == text() ? QString() : text();
  if (toolTip() != tip) setToolTip(tip);
  QPainter painter(this);
  style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(),
                        shown, foregroundRole());
}
