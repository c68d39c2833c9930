#include "app/Source/TimingDisplay/TimingDisplayRootView.h"

#include <QEvent>
#include <QKeyEvent>
#include <QTimer>

#include "app/Source/TimingDisplay/TimingDisplayViewController.h"

namespace tw {

TimingDisplayRootView::TimingDisplayRootView(TimingDisplayViewController* owner) : owner_(owner) {
  setFocusPolicy(Qt::ClickFocus);
}

void TimingDisplayRootView::detach() {
  owner_ = nullptr;
  if (watched_) watched_->removeEventFilter(this);
}

void TimingDisplayRootView::watchWindow() {
  if (!owner_) return;
  QWidget* w = window();
  if (w == watched_) return;
  if (watched_) watched_->removeEventFilter(this);
  watched_ = w;
  if (w != this) w->installEventFilter(this);
}

bool TimingDisplayRootView::eventFilter(QObject* object, QEvent* event) {
  // Applied on a later turn: the window is in the middle of being shown or restored.
  if (owner_ && object == watched_ &&
      (event->type() == QEvent::Show || event->type() == QEvent::WindowStateChange))
    QTimer::singleShot(0, this, [this] {
      if (owner_) owner_->windowShown();
    });
  return false;
}

bool TimingDisplayRootView::event(QEvent* event) {
  if (event->type() == QEvent::ParentChange || event->type() == QEvent::Show) watchWindow();
  return QWidget::event(event);
}

void TimingDisplayRootView::mousePressEvent(QMouseEvent* event) {
  QWidget::mousePressEvent(event);
  if (owner_) owner_->makeFirstResponder();
}

void TimingDisplayRootView::keyPressEvent(QKeyEvent* event) {
  if (owner_ && owner_->isFirstResponder()) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TimingDisplayRootView::keyReleaseEvent(QKeyEvent* event) {
  QWidget::keyReleaseEvent(event);
  if (event->isAutoRepeat()) return;
  if (owner_ && owner_->isFirstResponder() && event->text() == QStringLiteral(" ")) {
    event->accept();
    owner_->startTiming();
  }
}

}  // namespace tw
