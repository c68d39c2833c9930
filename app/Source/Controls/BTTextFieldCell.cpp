#include "app/Source/Controls/BTTextFieldCell.h"

QRectF BTTextFieldCell::adjustedRect(const QRectF& titleRect, double textHeight) {
  QRectF rect = titleRect;
  rect.moveTop(titleRect.top() + (titleRect.height() - textHeight) / 2);
  rect.setHeight(textHeight);
  return rect;
}
