#include "app/Source/Controls/ControlAnimation.h"

#include <QEasingCurve>
#include <cmath>

namespace tw::controls {

QEasingCurve easeInEaseOut() {
  QEasingCurve curve(QEasingCurve::BezierSpline);
  curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
  return curve;
}

QVariantAnimation* animate(QObject* owner, double seconds,
                           const std::function<void(double)>& step) {
  if (!(seconds > 0)) {
    step(1.0);
    return nullptr;
  }
  auto* animation = new QVariantAnimation(owner);
  animation->setStartValue(0.0);
  animation->setEndValue(1.0);
  animation->setDuration(static_cast<int>(std::lround(seconds * 1000)));
  animation->setEasingCurve(easeInEaseOut());
  QObject::connect(animation, &QVariantAnimation::valueChanged,
                   [step](const QVariant& value) { step(value.toDouble()); });
  animation->start(QAbstractAnimation::DeleteWhenStopped);
  return animation;
}

QColor mix(const QColor& from, const QColor& to, double t) {
  QColor a = from.toRgb(), b = to.toRgb();
  auto lerp = [t](double x, double y) { return x + (y - x) * t; };
  return QColor::fromRgbF(static_cast<float>(lerp(a.redF(), b.redF())),
                          static_cast<float>(lerp(a.greenF(), b.greenF())),
                          static_cast<float>(lerp(a.blueF(), b.blueF())),
                          static_cast<float>(lerp(a.alphaF(), b.alphaF())));
}

}  // namespace tw::controls
