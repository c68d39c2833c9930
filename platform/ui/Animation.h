#pragma once
// tw::ui::AnimationGroup: animates view changes together, with one completion that always runs
// exactly once on the main queue after the group ends: also for a zero duration (the changes
// are applied at once and the completion follows on a later turn) and when an animated widget
// is deleted meanwhile (its animation stops touching it; the others go on).
//
// Timing functions are easing curves; easeInEaseOut is the cubic Bezier (0.42, 0, 0.58, 1).
// Alpha is a widget's opacity (LayerStyle.h); frames are geometry in the parent's y-down
// coordinates. Main thread only.

#include <QEasingCurve>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>
#include <vector>

namespace tw::ui {

struct TimingFunction {
  static QEasingCurve easeInEaseOut();
  static QEasingCurve linear() { return QEasingCurve(QEasingCurve::Linear); }
};

class AnimationContext {
 public:
  // Seconds; 0.25 unless the changes block sets it.
  double duration = 0.25;
  QEasingCurve timingFunction = TimingFunction::easeInEaseOut();
  // Kept for callers that say so; every change made through the context animates.
  bool allowsImplicitAnimation = false;

  void animateAlpha(QWidget* widget, double to);
  void animateFrame(QWidget* widget, const QRect& to);

 private:
  friend class AnimationGroup;
  struct Change {
    QPointer<QWidget> widget;
    bool alpha;
    double fromAlpha, toAlpha;
    QRect fromFrame, toFrame;
  };
  std::vector<Change> changes_;
};

class AnimationGroup {
 public:
  static void run(const std::function<void(AnimationContext&)>& changes,
                  std::function<void()> completion);
  AnimationGroup() = delete;
};

}  // namespace tw::ui
