#include "app/Source/MainWindow/GradientBackgroundView.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

#include "platform/ui/Animation.h"

namespace tw {

namespace {

QColor blend(const QColor& a, const QColor& b, double t) {
  auto mix = [t](double x, double y) { return static_cast<float>(x + (y - x) * t); };
  return QColor::fromRgbF(mix(a.redF(), b.redF()), mix(a.greenF(), b.greenF()),
                          mix(a.blueF(), b.blueF()), mix(a.alphaF(), b.alphaF()));
}

}  // namespace

GradientBackgroundView::GradientBackgroundView(QWidget* parent)
    : QWidget(parent), animation_(new QVariantAnimation(this)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  animation_->setStartValue(0.0);
  animation_->setEndValue(1.0);
  animation_->setDuration(250);
  animation_->setEasingCurve(tw::ui::TimingFunction::easeInEaseOut());
  connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
    progress_ = v.toDouble();
    update();
  });
}

void GradientBackgroundView::setColors(std::vector<QColor> colors, bool animated) {
  from_ = colors_;
  colors_ = std::move(colors);
  animation_->stop();
  progress_ = animated && isVisible() ? 0.0 : 1.0;
  if (progress_ < 1.0) animation_->start();
  update();
}

void GradientBackgroundView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);  // the layer's background
  if (colors_.empty()) return;
  QLinearGradient gradient(0, 0, 0, height());  // top to bottom
  const std::size_t n = colors_.size();
  for (std::size_t i = 0; i < n; ++i) {
    QColor target = colors_[i];
    QColor color = target;
    if (progress_ < 1.0) {
      const QColor start = i < from_.size() ? from_[i] : QColor(0, 0, 0, 0);
      color = blend(start, target, progress_);
    }
    gradient.setColorAt(n == 1 ? 0.0 : static_cast<double>(i) / static_cast<double>(n - 1), color);
  }
  painter.fillRect(rect(), gradient);
}

}  // namespace tw
