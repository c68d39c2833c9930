#include "app/Source/Controls/ModalWindow.h"

#include <QCloseEvent>
#include <QVBoxLayout>

std::unique_ptr<ModalWindow> ModalWindow::presentWithContentViewController(QWidget* content) {
  auto window = std::make_unique<ModalWindow>();
  window->setContentViewController(content);
  window->setFixedSize(window->sizeHint());
  window->exec();
  return window;
}

ModalWindow::ModalWindow(QWidget* parent) : QDialog(parent) {
  // Titled, with the standard close button hidden.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setWindowModality(Qt::ApplicationModal);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
}

void ModalWindow::setContentViewController(QWidget* content) {
  if (content_ == content) return;
  if (content_) {
    layout()->removeWidget(content_);
    content_->deleteLater();
  }
  content_ = content;
  if (content_) {
    layout()->addWidget(content_);
    if (content_->windowTitle().size()) setWindowTitle(content_->windowTitle());
  }
}

void ModalWindow::closeEvent(QCloseEvent* event) {
  QDialog::closeEvent(event);
  // However the window goes, its modal loop ends with it.
  if (event->isAccepted() && isVisible()) done(QDialog::Rejected);
}
