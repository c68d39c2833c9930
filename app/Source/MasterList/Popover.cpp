#include "app/Source/MasterList/Popover.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "app/Source/MasterList/PopoverAccessible.h"

namespace tw {

Popover::Popover(std::shared_ptr<tw::ui::ViewController> content)
    : QFrame(nullptr, Qt::Popup), content_(std::move(content)) {
  PopoverAccessible::install();
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName("Popover");
  // A dark panel: its palette and its sheet both say so, so that no control falls back to the
  // light system colours (light fields would show white text on white).
  QPalette dark = palette();
  for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
    dark.setColor(role, QColor(0x2b, 0x2b, 0x30));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    dark.setColor(role, Qt::white);
  dark.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 150));
  dark.setColor(QPalette::Disabled, QPalette::Text, QColor(255, 255, 255, 110));
  dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(255, 255, 255, 110));
  setPalette(dark);
  setStyleSheet(
      "QFrame#Popover { background: #2b2b30; border: 1px solid #444; border-radius: 6px; }"
      "QLabel, QPushButton { color: white; }"
      "QLineEdit { color: white; background: transparent; selection-background-color: #4a6ee0; }"
      "QLineEdit:disabled { color: rgba(255, 255, 255, 0.45); }");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  if (QWidget* view = content_ ? content_->view() : nullptr) {
    layout->addWidget(view);
    // The window title is never drawn; it names the popover to assistive technologies.
    setWindowTitle(view->windowTitle());
    QObject::connect(view, &QWidget::windowTitleChanged, this, [this](const QString& title) {
      setWindowTitle(title);
      PopoverAccessible::nameChanged(accessibleMark_);
    });
  }
  resize(sizeHint());
}

Popover::~Popover() { PopoverAccessible::detach(accessibleMark_); }

void Popover::showRelativeToRect(const QRect& rect, QWidget* view, Edge edge) {
  if (!view) return;
  // The size it will have once shown: polished and laid out, not the hint of an unstyled panel.
  adjustSize();
  const QSize size = this->size();
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
  resize(size);
  move(view->mapToGlobal(at));
  keepOnScreen(view);
  show();
  // Shown, the panel may have taken a pixel or two more than it was laid out with.
  keepOnScreen(view);
  // Readers find it where it was opened, before its first field takes the keyboard.
  PopoverAccessible::detach(accessibleMark_);
  accessibleMark_ = PopoverAccessible::attach(this, view);
  // Typing goes straight into the first field, replacing what it shows; a popover without one
  // gives the keyboard to its first control.
  for (QLineEdit* field : findChildren<QLineEdit*>()) {
    if (!field->isVisible() || !field->isEnabled()) continue;
    field->setFocus(Qt::PopupFocusReason);
    field->selectAll();
    return;
  }
  for (QWidget* w = nextInFocusChain(); w != this && isAncestorOf(w); w = w->nextInFocusChain())
    if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(this)) {
      w->setFocus(Qt::TabFocusReason);
      break;
    }
}

void Popover::keyPressEvent(QKeyEvent* event) {
  // Every edit is already written through: Return is done.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    close();
    return;
  }
  QFrame::keyPressEvent(event);
}

void Popover::hideEvent(QHideEvent* event) {
  PopoverAccessible::detach(accessibleMark_);
  QFrame::hideEvent(event);
}

void Popover::keepOnScreen(QWidget* anchor) {
  // Whole on the screen that holds the anchor, however near its edge the row is.
  const QScreen* screen = anchor->screen() ? anchor->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  const QRect frame = frameGeometry();
  QPoint at = pos();
  at.setX(std::clamp(frame.left(), area.left(),
                     std::max(area.left(), area.right() + 1 - frame.width())) +
          (pos().x() - frame.left()));
  at.setY(std::clamp(frame.top(), area.top(),
                     std::max(area.top(), area.bottom() + 1 - frame.height())) +
          (pos().y() - frame.top()));
  if (at != pos()) move(at);
}

}  // namespace tw
