#include "platform/ui/Animation.h"

#include <QCoreApplication>
#include <QParallelAnimationGroup>
#include <QVariantAnimation>
#include <cmath>
#include <memory>

#include "platform/foundation/Dispatch.h"
#include "platform/ui/LayerStyle.h"

namespace tw::ui {

QEasingCurve TimingFunction::easeInEaseOut() {
  QEasingCurve curve(QEasingCurve::BezierSpline);
  curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
  return curve;
}

void AnimationContext::animateAlpha(QWidget* widget, double to) {
  if (!widget) return;
  changes_.push_back({widget, true, alpha(widget), to, {}, {}});
}

void AnimationContext::animateFrame(QWidget* widget, const QRect& to) {
  if (!widget) return;
  changes_.push_back({widget, false, 0, 0, widget->geometry(), to});
}

void AnimationGroup::run(const std::function<void(AnimationContext&)>& changes,
                         std::function<void()> completion) {
  AnimationContext context;
  if (changes) changes(context);

  auto finish = [completion = std::move(completion)] {
    if (completion) DispatchQueue::main()->async(completion);
  };

  const int ms = static_cast<int>(std::lround(context.duration * 1000.0));
  if (ms <= 0 || context.changes_.empty() || !QCoreApplication::instance()) {
    for (const auto& change : context.changes_) {
      if (!change.widget) continue;
      if (change.alpha)
        setAlpha(change.widget, change.toAlpha);
      else
        change.widget->setGeometry(change.toFrame);
    }
    finish();
    return;
  }

  auto* group = new QParallelAnimationGroup(QCoreApplication::instance());
  for (const auto& change : context.changes_) {
    auto* animation = new QVariantAnimation(group);
    animation->setDuration(ms);
    animation->setEasingCurve(context.timingFunction);
    QPointer<QWidget> target = change.widget;
    if (change.alpha) {
      animation->setStartValue(change.fromAlpha);
      animation->setEndValue(change.toAlpha);
      QObject::connect(animation, &QVariantAnimation::valueChanged, group,
                       [target](const QVariant& v) {
                         if (target) setAlpha(target, v.toDouble());
                       });
    } else {
      animation->setStartValue(change.fromFrame);
      animation->setEndValue(change.toFrame);
      QObject::connect(animation, &QVariantAnimation::valueChanged, group,
                       [target](const QVariant& v) {
                         if (target) target->setGeometry(v.toRect());
                       });
    }
    group->addAnimation(animation);
  }
  QObject::connect(group, &QAbstractAnimation::finished, group, [group, finish] {
    finish();
    group->deleteLater();
  });
  group->start();
}

}  // namespace tw::ui
