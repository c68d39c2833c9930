#pragma once
// BTTextFieldCell: the text layout of BTTextField. It keeps two paddings (stored only) and
// centres the text line vertically in the title rectangle the field gives it.
//
// Owned by its BTTextField (a value member). Main thread only, like the field.

#include <QRectF>

class BTTextFieldCell {
 public:
  BTTextFieldCell() { initializeTextCell(); }

  double paddingVertical() const { return paddingVertical_; }
  void setPaddingVertical(double v) { paddingVertical_ = v; }
  double paddingHorizontal() const { return paddingHorizontal_; }
  void setPaddingHorizontal(double v) { paddingHorizontal_ = v; }

  // The rectangle the text is drawn and edited in: `titleRect` narrowed to `textHeight` and
  // centred vertically in it; x and width unchanged. (Qt's y axis points down: the top edge
  // moves down by half the spare height.)
  static QRectF adjustedRect(const QRectF& titleRect, double textHeight);

 private:
  void initializeTextCell() { paddingVertical_ = paddingHorizontal_ = 0; }

  double paddingVertical_ = 0;
  double paddingHorizontal_ = 0;
};
