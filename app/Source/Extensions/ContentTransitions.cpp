#include "app/Source/Extensions/ContentTransitions.h"

#include <QPointer>

#include "core/Source/Library/BTViewTransition.h"
#include "platform/ui/Animation.h"
#include "platform/ui/LayerStyle.h"

namespace tw::app {

namespace {

constexpr const char* kStateName = "twContentTransitionState";

// What a container remembers of its content; a child object, so it goes with the container.
class ContentState : public QObject {
 public:
  explicit ContentState(QWidget* container) : QObject(container) { setObjectName(kStateName); }
  QPointer<QWidget> content;
  bool transitioning = false;
};

ContentState* stateOf(const QWidget* container, bool create) {
  auto* state = container->findChild<ContentState*>(kStateName, Qt::FindDirectChildrenOnly);
  if (!state && create) state = new ContentState(const_cast<QWidget*>(container));
  return state;
}

}  // namespace

QWidget* contentView(const QWidget* container) {
  auto* state = container ? stateOf(container, false) : nullptr;
  return state ? state->content.data() : nullptr;
}

bool isTransitioningViews(const QWidget* container) {
  auto* state = container ? stateOf(container, false) : nullptr;
  return state && state->transitioning;
}

QRect oldViewEndFrame(const QRect& frame, const QRect& bounds, long direction) {
  QRect r = frame;
  switch (direction) {
    case 1:
      r.moveTop(-bounds.height());
      break;  // leaves upwards
    case 2:
      r.moveLeft(bounds.width());
      break;  // leaves to the right
    case 3:
      r.moveTop(bounds.height());
      break;  // leaves downwards
    case 4:
      r.moveLeft(-bounds.width());
      break;  // leaves to the left
    default:
      break;
  }
  return r;
}

QRect newViewStartFrame(const QRect& frame, const QRect& bounds, long direction) {
  QRect r = oldViewEndFrame(frame, bounds, direction);
  if (direction == 1 || direction == 3) r.moveTop(-r.top());
  if (direction == 2 || direction == 4) r.moveLeft(-r.left());
  return r;
}

void setContentView(QWidget* container, QWidget* view,
                    const std::shared_ptr<const BTViewTransition>& transition,
                    std::function<void()> completion) {
  if (!container) return;
  auto* state = stateOf(container, true);
  if (view == state->content.data() || state->transitioning) return;

  QPointer<QWidget> oldView = state->content;
  QPointer<QWidget> newView = view;
  QPointer<QWidget> host = container;
  auto removeOld = [oldView] {
    if (!oldView) return;
    oldView->hide();
    oldView->setParent(nullptr);
  };
  auto addNew = [newView, host] {
    if (!newView || !host) return;
    newView->setParent(host);
    newView->setGeometry(host->rect());
    newView->show();
  };
  auto finish = [host, newView, completion = std::move(completion)] {
    if (host)
      if (auto* s = stateOf(host, true)) {
        s->transitioning = false;
        s->content = newView;
      }
    if (completion) completion();
  };

  state->transitioning = true;
  if (!transition || transition->animation() == 0) {
    removeOld();
    addNew();
    finish();
    return;
  }
  const bool fade = transition->animation() & 1;
  const bool slide = transition->animation() & 2;
  const QRect bounds = container->rect();
  const QRect oldFrame = oldView ? oldView->geometry() : QRect();
  addNew();
  if (fade) {
    if (oldView) ui::setAlpha(oldView, 1.0);
    if (newView) ui::setAlpha(newView, 0.0);
  }
  const long direction = static_cast<long>(transition->direction());
  if (slide) {
    if (oldView) oldView->setGeometry(oldFrame);
    if (newView) newView->setGeometry(newViewStartFrame(bounds, bounds, direction));
  }
  ui::AnimationGroup::run(
      [&](ui::AnimationContext& context) {
        context.duration = transition->duration();
        context.allowsImplicitAnimation = true;
        if (fade) {
          context.animateAlpha(oldView, 0.0);
          context.animateAlpha(newView, 1.0);
        }
        if (slide) {
          context.animateFrame(oldView, oldViewEndFrame(oldFrame, bounds, direction));
          context.animateFrame(newView, bounds);
        }
      },
      [removeOld, finish, oldView] {
        removeOld();
        if (oldView) ui::setAlpha(oldView, 1.0);  // ready to be shown again elsewhere
        finish();
      });
}

}  // namespace tw::app
