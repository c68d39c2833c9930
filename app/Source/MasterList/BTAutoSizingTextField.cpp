#include "app/Source/MasterList/BTAutoSizingTextField.h"

#include <QEvent>
#include <QFontMetricsF>
#include <cmath>

BTAutoSizingTextField::BTAutoSizingTextField(QWidget* parent) : QLabel(parent) {}

double BTAutoSizingTextField::fittedPointSize(double w20, double h20, double w40, double h40,
                                              const QSizeF& size) {
  const double aw = (w40 - w20) / 20.0;
  const double bw = w20 - aw * 20.0;
  const double ah = (h40 - h20) / 20.0;
  const double bh = h20 - ah * 20.0;
  const double byWidth = (size.width() - bw) / aw;
  const double byHeight = (size.height() - bh) / ah;
  return byWidth < byHeight ? byWidth : byHeight;
}

QFont BTAutoSizingTextField::fontWithText(const QString& text, const QSizeF& size) const {
  const auto measure = [&](double points) {
    QFont f = font();
    f.setPointSizeF(points);
    return QFontMetricsF(f)
        .boundingRect(QRectF(0, 0, 1e6, 1e6), Qt::AlignLeft | Qt::AlignTop, text)
        .size();
  };
  const QSizeF s20 = measure(20), s40 = measure(40);
  const double points = fittedPointSize(s20.width(), s20.height(), s40.width(), s40.height(), size);
  QFont fitted = font();
  if (std::isfinite(points) && points > 0) fitted.setPointSizeF(points);
  return fitted;
}

void BTAutoSizingTextField::sizeToFit() {
  setFont(fontWithText(text(), size()));
  preferredCharWidth_ = QFontMetricsF(font()).horizontalAdvance("0") * 1.1;
  updateGeometry();
}

double BTAutoSizingTextField::roundedWidth(double width, double charWidth) {
  if (charWidth <= 0) return width;
  return std::ceil(static_cast<float>(width / charWidth)) * charWidth;
}

QSize BTAutoSizingTextField::sizeHint() const {
  QSize hint = QLabel::sizeHint();
  hint.setWidth(static_cast<int>(std::ceil(roundedWidth(hint.width(), preferredCharWidth_))));
  return hint;
}

void BTAutoSizingTextField::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  sizeToFit();
}

bool BTAutoSizingTextField::event(QEvent* event) {
  const bool handled = QLabel::event(event);
  if (event->type() == QEvent::ParentChange && parentWidget()) sizeToFit();
  return handled;
}
