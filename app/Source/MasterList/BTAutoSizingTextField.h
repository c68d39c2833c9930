#pragma once
// BTAutoSizingTextField: a display field that takes the largest font with which its text fits
// its bounds, and rounds its natural width up to whole digit cells (1.1 widths of "0"), so a
// changing number does not make the layout jitter. It refits when placed in a view and whenever
// its size changes; setting the text alone does not refit. A fitted size that is not a positive
// number (no width or height yet) keeps the current font. Owned by its parent; main thread only.

#include <QLabel>

class BTAutoSizingTextField : public QLabel {
 public:
  explicit BTAutoSizingTextField(QWidget* parent = nullptr);

  double preferredCharWidth() const { return preferredCharWidth_; }
  void sizeToFit();
  // The current font at the size that fits `size` (the current font when none does).
  QFont fontWithText(const QString& text, const QSizeF& size) const;
  // The point size the linear model of text size gives; may be NaN, infinite or negative.
  static double fittedPointSize(double w20, double h20, double w40, double h40, const QSizeF& size);
  // ceil(width / charWidth) * charWidth, the quotient rounded up in single precision.
  static double roundedWidth(double width, double charWidth);
  QSize sizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool event(QEvent* event) override;

 private:
  double preferredCharWidth_ = 0;
};
