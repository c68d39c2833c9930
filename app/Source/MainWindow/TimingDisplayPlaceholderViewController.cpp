#include "app/Source/MainWindow/TimingDisplayPlaceholderViewController.h"

#include <QLabel>
#include <QVBoxLayout>

#include "core/Source/Model/BTTimeObject.h"
#include "platform/foundation/Localization.h"

void TimingDisplayPlaceholderViewController::loadView() {
  auto* root = new QWidget;
  root->setObjectName("TimingDisplay");
  root->setAttribute(Qt::WA_TranslucentBackground);
  auto* layout = new QVBoxLayout(root);
  layout->setContentsMargins(24, 64, 24, 24);
  title_ = new QLabel;
  title_->setAlignment(Qt::AlignCenter);
  title_->setStyleSheet("color: white; font-size: 28px; font-weight: 300;");
  state_ = new QLabel;
  state_->setAlignment(Qt::AlignCenter);
  state_->setStyleSheet("color: rgba(255,255,255,0.7); font-size: 15px;");
  layout->addStretch(1);
  layout->addWidget(title_);
  layout->addWidget(state_);
  layout->addStretch(2);
  setView(root);
  refresh();
}

void TimingDisplayPlaceholderViewController::setTimeObject(
    const std::shared_ptr<BTTimeObject>& timeObject) {
  timeObject_ = timeObject;
  refresh();
}

void TimingDisplayPlaceholderViewController::refresh() {
  if (!title_) return;
  if (!timeObject_) {
    title_->clear();
    state_->clear();
    return;
  }
  const std::string title = timeObject_->title();
  title_->setText(QString::fromStdString(title.empty() ? tw::localized("Untitled") : title));
  const char* state = "Stopped";
  switch (timeObject_->timingState()) {
    case 10:
      state = "Paused";
      break;
    case 20:
      state = "Running";
      break;
    case 21:
      state = "Finished";
      break;
    default:
      break;
  }
  state_->setText(QString::fromStdString(tw::localized(state)));
}
