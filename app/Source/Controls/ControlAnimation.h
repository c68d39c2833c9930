#pragma once
// tw::controls: the animation helper of the custom controls. A property animation of the
// controls' own drawn state runs `step(t)` with t eased from 0 to 1 over the duration, on the
// ease-in-ease-out curve (the cubic Bezier (0.42, 0, 0.58, 1)); the last step is always t = 1.
//
// Main thread only. The returned animation belongs to `owner` and deletes itself when it stops.

#include <QColor>
#include <QPointF>
#include <QVariantAnimation>
#include <functional>

namespace tw::controls {

// Starts the animation; with a duration of 0 or less, runs step(1) at once and returns null.
QVariantAnimation* animate(QObject* owner, double seconds, const std::function<void(double)>& step);

// The ease-in-ease-out curve used by every control animation.
QEasingCurve easeInEaseOut();

QColor mix(const QColor& from, const QColor& to, double t);
inline QPointF mix(QPointF from, QPointF to, double t) { return from + (to - from) * t; }

}  // namespace tw::controls
