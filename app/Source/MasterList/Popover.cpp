#include "app/Source/MasterList/Popover.h"

#include <QKeyEvent>
#include <QVBoxLayout>

Popover::Popover(std::shared_ptr<tw::ui::ViewController> content)
    : QFrame(nullptr, Qt::Popup), content_(std::move(content)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName("Popover");
  setStyleSheet(
      "QFrame#Popover { background: #2b2b30; border: 1px solid #444; border-radius: 6px; }"
      "QLabel, QLineEdit, QPushButton { color: white; }");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  if (content_) layout->addWidget(content_->view());
  resize(sizeHint());
}

void Popover::showRelativeToRect(const QRect& rect, QWidget* view, Edge edge) {
  if (!view) return;
  const QSize size = sizeHint();
  QPoint at;
  switch (edge) {
    case Edge::MaxX:
      at = QPoint(rect.right() + 1, rect.center().y() - size.height() / 2);
      break;
    case Edge::MinX:
      at = QPoint(rect.left() - size.width(), rect.center().y() - size.height() / 2);
      break;
    case Edge::MinY:
      at = QPoint(rect.center().x() - size.width() / 2, rect.top() - size.height());
      break;
    case Edge::MaxY:
      at = QPoint(rect.center().x() - size.width() / 2, rect.bottom() + 1);
      break;
  }
  move(view->mapToGlobal(at));
  show();
  for (QWidget* w = nextInFocusChain(); w != this && isAncestorOf(w); w = w->nextInFocusChain())
    if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(this)) {
      w->setFocus(Qt::TabFocusReason);
      break;
    }
}

void Popover::keyPressEvent(QKeyEvent* event) {
  // Fields and buttons leave Return to their window; here it ends the edit.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    close();
    return;
  }
  QFrame::keyPressEvent(event);
}
