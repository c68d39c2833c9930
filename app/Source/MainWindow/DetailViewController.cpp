#include "app/Source/MainWindow/DetailViewController.h"

#include <QEvent>
#include <QPointer>
#include <functional>

#include "app/Source/Extensions/ContentTransitions.h"
#include "app/Source/MainWindow/GradientBackgroundView.h"
#include "core/Source/Library/BTViewTransition.h"
#include "core/Source/Model/BTMasterListViewMode.h"
#include "platform/foundation/Dispatch.h"
#include "platform/ui/Animation.h"
#include "platform/ui/LayerStyle.h"

DetailViewController::DetailViewController() = default;
DetailViewController::~DetailViewController() = default;

void DetailViewController::loadView() {
  auto* background = new tw::GradientBackgroundView;
  background->setObjectName("DetailView");
  container_ = new QWidget(background);
  container_->setObjectName("DetailContainer");
  setView(background);
  // The container fills the pane, and the content shown fills the container, whenever the
  // window changes size. A running swap places its views itself and is left alone; its end puts
  // the content to the container's size.
  struct Filler : QObject {
    std::function<void(QObject*)> resized;
    Filler(QObject* parent, std::function<void(QObject*)> onResize)
        : QObject(parent), resized(std::move(onResize)) {}
    bool eventFilter(QObject* o, QEvent* e) override {
      if (e->type() == QEvent::Resize) resized(o);
      return false;
    }
  };
  std::weak_ptr<tw::ui::Responder> weak = selfResponder();
  QPointer<QWidget> container(container_);
  auto* filler = new Filler(background, [weak, container, background](QObject* o) {
    if (!container) return;
    if (o == background) {
      container->setGeometry(background->rect());
      return;
    }
    if (auto self = std::static_pointer_cast<DetailViewController>(weak.lock())) self->fitContent();
  });
  background->installEventFilter(filler);
  container_->installEventFilter(filler);
}

void DetailViewController::fitContent() {
  if (transitioning_ || !content_ || !content_->isViewLoaded() || !container_) return;
  QWidget* shown = content_->view();
  if (shown && shown->parentWidget() == container_) shown->setGeometry(container_->rect());
}

tw::GradientBackgroundView* DetailViewController::gradientView() {
  return static_cast<tw::GradientBackgroundView*>(view());
}

QWidget* DetailViewController::containerView() {
  view();
  return container_;
}

void DetailViewController::viewDidLoad() {
  content_.reset();
  std::weak_ptr<tw::ui::Responder> weak = selfResponder();
  modeObserver_ = tw::NotificationCenter::defaultCenter()->addObserver(
      BTMasterListViewModeDidChangeNotification, nullptr, nullptr,
      [weak](const tw::Notification& n) {
        if (auto self = std::static_pointer_cast<DetailViewController>(weak.lock()))
          self->masterListViewModeDidChange(n);
      });
}

void DetailViewController::masterListViewModeDidChange(const tw::Notification& notification) {
  const long mode = BTMasterListViewGetValueFromNotification(notification);
  auto colors = BTMasterListViewModeGetGradientColors(mode, 0.5);
  if (!colors) return;
  std::vector<QColor> qcolors;
  for (const auto& c : *colors)
    qcolors.push_back(QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green),
                                       static_cast<float>(c.blue), static_cast<float>(c.alpha)));
  gradientView()->setColors(std::move(qcolors), true);
}

void DetailViewController::setViewController(
    const std::shared_ptr<tw::ui::ViewController>& controller,
    const std::shared_ptr<const BTViewTransition>& transition) {
  setViewController(controller, transition, {});
}

void DetailViewController::setViewController(
    const std::shared_ptr<tw::ui::ViewController>& controller,
    const std::shared_ptr<const BTViewTransition>& transition, std::function<void()> completion) {
  TW_MAIN_THREAD_ONLY("DetailViewController::setViewController");
  const auto old = content_;
  if (controller == old) return;
  if (transitioning_) {
    // Applied when the running swap ends; an earlier waiting request is superseded.
    pending_ = Pending{controller, transition, std::move(completion)};
    return;
  }
  // Taken only now that the request will be carried out.
  std::weak_ptr<tw::ui::ViewController> subjectOwner = controller;
  auto subjectOf = [subjectOwner]() -> BTViewTransitionSubject* {
    return dynamic_cast<BTViewTransitionSubject*>(subjectOwner.lock().get());
  };

  QWidget* container = containerView();
  QPointer<QWidget> oldView = old && old->isViewLoaded() ? old->view() : nullptr;
  QPointer<QWidget> newView = controller ? controller->view() : nullptr;
  std::weak_ptr<tw::ui::Responder> weakSelf = selfResponder();

  auto removeOld = [old, oldView] {
    if (!old) return;
    if (oldView) {
      oldView->hide();
      oldView->setParent(nullptr);
      tw::ui::setAlpha(oldView, 1.0);
    }
    old->removeFromParentViewController();
  };
  auto addNew = [this, controller, newView, transition, subjectOf, container] {
    if (!controller) return;
    auto* subject = subjectOf();
    if (transition && subject && subject->implementsWillPerformTransition())
      subject->willPerformTransition(transition);
    addChildViewController(controller);
    if (newView) {
      newView->setParent(container);
      newView->setGeometry(container->rect());
      newView->show();
    }
  };
  auto finish = [weakSelf, controller, transition, subjectOf, completion] {
    auto self = std::static_pointer_cast<DetailViewController>(weakSelf.lock());
    if (!self) return;
    self->transitioning_ = false;
    self->content_ = controller;
    self->fitContent();
    auto* subject = subjectOf();
    if (transition && subject && subject->implementsDidPerformTransition())
      subject->didPerformTransition(transition);
    if (completion) completion();
    self->finishSwap();
  };

  transitioning_ = true;
  if (!transition || transition->animation() == 0) {
    removeOld();
    addNew();
    finish();
    return;
  }

  const QRect oldFrame = oldView ? oldView->geometry() : QRect();
  const QRect bounds = container->rect();
  addNew();
  if (!oldView && !newView) {
    // Nothing to animate (an empty list, no old content): straight to the end.
    removeOld();
    finish();
    return;
  }
  const bool fade = transition->animation() & 1;
  const bool slide = transition->animation() & 2;
  double endAlpha = 1.0;
  if (fade) {
    double startAlpha = 0.0;
    if (auto* subject = subjectOf()) {
      if (subject->implementsPreferredTransitionStartAlphaValue())
        startAlpha = subject->preferredTransitionStartAlphaValue();
      if (subject->implementsPreferredTransitionEndAlphaValue())
        endAlpha = subject->preferredTransitionEndAlphaValue();
    }
    if (oldView) tw::ui::setAlpha(oldView, 1.0);
    if (newView) tw::ui::setAlpha(newView, startAlpha);
  }
  const long direction = static_cast<long>(transition->direction());
  QRect oldEnd = oldFrame, newStart = bounds;
  if (slide) {
    oldEnd = tw::app::oldViewEndFrame(oldFrame, bounds, direction);
    newStart = tw::app::newViewStartFrame(bounds, bounds, direction);
    if (oldView) oldView->setGeometry(oldFrame);
    if (newView) newView->setGeometry(newStart);
  }
  tw::ui::AnimationGroup::run(
      [&](tw::ui::AnimationContext& context) {
        context.allowsImplicitAnimation = true;
        context.duration = kSwapDuration;
        context.timingFunction = tw::ui::TimingFunction::easeInEaseOut();
        if (fade) {
          context.animateAlpha(oldView, 0.0);
          context.animateAlpha(newView, endAlpha);
        }
        if (slide) {
          context.animateFrame(oldView, oldEnd);
          context.animateFrame(newView, bounds);
        }
      },
      [removeOld, finish] {
        removeOld();
        finish();
      });
}

void DetailViewController::finishSwap() {
  if (!pending_) return;
  Pending next = std::move(*pending_);
  pending_.reset();
  setViewController(next.controller, next.transition, std::move(next.completion));
}
