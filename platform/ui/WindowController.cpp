#include "platform/ui/WindowController.h"

#include <QVBoxLayout>

namespace tw::ui {

WindowController::WindowController() = default;

WindowController::~WindowController() {
  if (content_ && content_->isViewLoaded()) {
    if (QWidget* view = content_->view()) view->setParent(nullptr);
  }
  delete window_.data();
}

QWidget* WindowController::window() {
  if (!loaded_) {
    loaded_ = true;
    QWidget* window = loadWindow();
    if (!window) window = new QWidget;
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window_ = window;
    attachToWidget(window);
    windowDidLoad();
  }
  return window_.data();
}

QWidget* WindowController::loadWindow() { return new QWidget; }

QWidget* WindowController::contentHost() { return window(); }

void WindowController::showWindow(QObject*) {
  QWidget* w = window();
  if (!w) return;
  if (w->isMinimized()) w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
  w->show();
  w->raise();
  w->activateWindow();
}

void WindowController::setContentViewController(const std::shared_ptr<ViewController>& controller) {
  if (content_ == controller) return;
  if (content_ && content_->isViewLoaded())
    if (QWidget* old = content_->view()) old->setParent(nullptr);
  content_ = controller;
  if (!controller) return;
  QWidget* host = contentHost();
  if (!host->layout()) {
    auto* layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
  }
  host->layout()->addWidget(controller->view());
  // The window's controller comes after the content in the chain.
  controller->setNextResponder(nullptr);
}

std::shared_ptr<WindowController> WindowController::forWindow(QWidget* window) {
  if (!window) return nullptr;
  return std::dynamic_pointer_cast<WindowController>(Responder::forWidget(window->window()));
}

}  // namespace tw::ui
