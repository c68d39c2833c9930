#include "app/Source/Extensions/ViewExtensions.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QLayout>
#include <QPainter>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "platform/ui/Animation.h"

namespace tw::app {

namespace {
// Marks a view hidden because it was made fully transparent.
constexpr const char* kHiddenByAlpha = "tw_hiddenByAlpha";
}  // namespace

EdgePinning::EdgePinning(QWidget* view, QWidget* parent, const QMargins& insets)
    : QObject(view), view_(view), parent_(parent), insets_(insets) {
  parent->installEventFilter(this);
  apply();
}

void EdgePinning::apply() {
  if (view_->parentWidget() != parent_) return;
  view_->setGeometry(parent_->rect().marginsRemoved(insets_));
}

bool EdgePinning::eventFilter(QObject* object, QEvent* event) {
  if (object == parent_ && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
    apply();
  return false;
}

EdgePinning* constrainToParent(QWidget* view, QWidget* parent, const QMargins& insets) {
  if (!view || !parent) return nullptr;
  // EdgePinning has no meta-object of its own, so findChildren<EdgePinning*> would match every
  // child object (the view's own widgets among them): tell them apart by type.
  for (QObject* child : view->children())
    if (auto* old = dynamic_cast<EdgePinning*>(child)) delete old;
  if (view->parentWidget()) view->setParent(nullptr);
  view->setParent(parent);
  auto* pinning = new EdgePinning(view, parent, insets);
  view->show();
  return pinning;
}

void centerOverWindow(QWidget* window, QWidget* over) {
  if (!window) return;
  QWidget* anchor = over ? over->window() : nullptr;
  QScreen* screen =
      anchor && anchor->screen() ? anchor->screen() : QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->availableGeometry() : QRect();
  const QPoint centre = anchor ? anchor->frameGeometry().center() : area.center();
  // The frame is not known before the first show: the content size stands in for it.
  const QSize size = window->isVisible() ? window->frameGeometry().size() : window->size();
  QPoint topLeft(centre.x() - size.width() / 2, centre.y() - size.height() / 2);
  if (area.isValid()) {
    topLeft.setX(std::clamp(topLeft.x(), area.left(),
                            std::max(area.left(), area.right() + 1 - size.width())));
    topLeft.setY(std::clamp(topLeft.y(), area.top(),
                            std::max(area.top(), area.bottom() + 1 - size.height())));
  }
  window->move(topLeft);
}

void sizeToFitContentView(QWidget* window, bool animate) {
  if (!window) return;
  QSize fitting = window->layout() ? window->layout()->sizeHint() : window->sizeHint();
  fitting = fitting.expandedTo(window->minimumSize()).boundedTo(window->maximumSize());
  const QRect current = window->geometry();
  const QRect target(current.topLeft(), fitting);
  if (!animate) {
    window->setGeometry(target);
    return;
  }
  ui::AnimationGroup::run(
      [&](ui::AnimationContext& context) {
        context.duration = 0.2;
        context.animateFrame(window, target);
      },
      {});
}

QImage imageRepresentation(QWidget* view, const std::optional<QColor>& background) {
  if (!view) return {};
  const qreal scale = view->devicePixelRatioF();
  QImage image(view->size() * scale, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(background ? *background : QColor(Qt::transparent));
  QPainter painter(&image);
  view->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
  painter.end();
  return image;
}

void setViewAlpha(QWidget* view, double alpha, bool animated, int durationMs) {
  // Fully opaque, the view is drawn without an effect: an effect draws the view from a picture
  // it keeps, which goes stale when an ancestor moves (a pane sliding in) and then shows the
  // view shifted and cut.
  QPointer<QWidget> guarded(view);
  const auto dropIfOpaque = [guarded] {
    if (!guarded) return;
    auto* e = qobject_cast<QGraphicsOpacityEffect*>(guarded->graphicsEffect());
    if (e && e->opacity() >= 1.0) guarded->setGraphicsEffect(nullptr);
  };
  // Fully transparent, the view is hidden as well: what is not seen is not read out to
  // assistive technologies either. Only a view hidden here is shown again here.
  const auto hideIfTransparent = [guarded] {
    if (!guarded) return;
    auto* e = qobject_cast<QGraphicsOpacityEffect*>(guarded->graphicsEffect());
    if (!e || e->opacity() > 0.0 || guarded->isHidden()) return;
    guarded->setProperty(kHiddenByAlpha, true);
    guarded->hide();
  };
  auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
  if (alpha > 0.0 && view->property(kHiddenByAlpha).toBool()) {
    view->setProperty(kHiddenByAlpha, QVariant());
    if (!effect) {
      effect = new QGraphicsOpacityEffect(view);
      view->setGraphicsEffect(effect);
    }
    effect->setOpacity(0.0);
    view->show();
  }
  if (!animated || !view->isVisible()) {
    if (alpha >= 1.0) {
      if (effect) view->setGraphicsEffect(nullptr);
      return;
    }
    if (!effect) {
      effect = new QGraphicsOpacityEffect(view);
      view->setGraphicsEffect(effect);
    }
    effect->setOpacity(alpha);
    hideIfTransparent();
    return;
  }
  if (!effect) {
    if (alpha >= 1.0) return;  // already opaque
    effect = new QGraphicsOpacityEffect(view);
    effect->setOpacity(1.0);
    view->setGraphicsEffect(effect);
  }
  auto* animation = new QPropertyAnimation(effect, "opacity", effect);
  animation->setDuration(durationMs);
  animation->setEndValue(alpha);
  if (alpha >= 1.0)
    // A turn later: the effect owns the animation that is finishing.
    QObject::connect(animation, &QAbstractAnimation::finished, view,
                     [dropIfOpaque] { QTimer::singleShot(0, dropIfOpaque); });
  else if (alpha <= 0.0)
    QObject::connect(animation, &QAbstractAnimation::finished, view,
                     [hideIfTransparent] { QTimer::singleShot(0, hideIfTransparent); });
  animation->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace tw::app
