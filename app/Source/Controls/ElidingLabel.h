#pragma once
// ElidingLabel: a one-line label that, when narrower than its text, shows the text cut with an
// ellipsis ("Show notification with…") instead of clipped mid-letter, and offers the whole text
// as its tool tip. text() stays the whole text. Its minimum width is that of the ellipsis, so
// layouts may narrow it freely; its size hint measures no more of the text than a screen holds.
//
// A QWidget owned by its parent widget. Main thread only.
//
// tw::app::elideRight cuts `text` to `width` pixels with an ellipsis, measuring only as much of
// it as could be shown, so a text of a megabyte costs what a short one costs.

#include <QLabel>

class ElidingLabel : public QLabel {
 public:
  explicit ElidingLabel(QWidget* parent = nullptr);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  // Whether the text is shown cut at the current width.
  bool isElided() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

namespace tw::app {
QString elideRight(const QString& text, const QFontMetrics& metrics, int width);
}  // namespace tw::app
