#pragma once
// GradientBackgroundView: the detail pane's background, a vertical gradient through the colours
// it is given over black, faded into new colours when asked to animate. Stands where the
// custom gradient control goes. Owned by its parent widget; main thread only.

#include <QColor>
#include <QVariantAnimation>
#include <QWidget>
#include <vector>

namespace tw {

class GradientBackgroundView : public QWidget {
 public:
  explicit GradientBackgroundView(QWidget* parent = nullptr);
  const std::vector<QColor>& colors() const { return colors_; }
  void setColors(std::vector<QColor> colors, bool animated);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<QColor> colors_;
  std::vector<QColor> from_;
  double progress_ = 1.0;
  QVariantAnimation* animation_;
};

}  // namespace tw
