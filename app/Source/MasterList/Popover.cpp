#include "app/Source/MasterList/Popover.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

Popover::Popover(std::shared_ptr<tw::ui::ViewController> content)
    : QFrame(nullptr, Qt::Popup), content_(std::move(content)) {
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
      "QLineEdit { color: white; background: transparent; selection-background-color: #4a6ee0; }");
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
  // Kept whole on the screen that holds the anchor, however near its edge the row is.
  QPoint global = view->mapToGlobal(at);
  const QScreen* screen = view->screen() ? view->screen() : QGuiApplication::primaryScreen();
  if (screen) {
    const QRect area = screen->availableGeometry();
    global.setX(std::clamp(global.x(), area.left(),
                           std::max(area.left(), area.right() + 1 - size.width())));
    global.setY(std::clamp(global.y(), area.top(),
                           std::max(area.top(), area.bottom() + 1 - size.height())));
  }
  resize(size);
  move(global);
  show();
}
