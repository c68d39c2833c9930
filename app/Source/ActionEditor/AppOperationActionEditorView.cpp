#include "app/Source/ActionEditor/AppOperationActionEditorView.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QStandardPaths>
#include <filesystem>

#include "app/Source/ActionEditor/ApplicationChooser.h"
#include "app/Source/ActionEditor/FileOperationActionEditorView.h"
#include "app/Source/Actions/FileOperationActionUtil.h"
#include "core/Source/Library/DesktopEntry.h"
#include "core/Source/Model/BTAppOperationActionProtocol.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACSignal.h"

AppOperationActionEditorView::AppOperationActionEditorView()
    : openSelectButton_(new QRadioButton),
      closeSelectButton_(new QRadioButton),
      filepathValueLabel_(new QLabel),
      browseButton_(new QPushButton) {
  widget()->setObjectName("AppOperationActionEditorView");
  openSelectButton_->setText(QString::fromStdString(tw::localized("Launch")));
  closeSelectButton_->setText(QString::fromStdString(tw::localized("Quit")));
  openSelectButton_->setProperty("tag", 0);
  closeSelectButton_->setProperty("tag", 1);
  auto* group = new QButtonGroup(widget());
  group->addButton(openSelectButton_);
  group->addButton(closeSelectButton_);
  auto* radios = new QWidget;
  auto* radioLayout = new QHBoxLayout(radios);
  radioLayout->setContentsMargins(0, 0, 0, 0);
  radioLayout->addWidget(openSelectButton_);
  radioLayout->addWidget(closeSelectButton_);
  radioLayout->addStretch(1);
  addRow("Operation:", radios);

  addPathRow("Application:", filepathValueLabel_, browseButton_);
}

void AppOperationActionEditorView::loadViewWithBuilder(
    const std::shared_ptr<BTActionBuilder>& builder) {
  ActionObjectEditorView::loadViewWithBuilder(builder);
  if (builder->appOperationType() == BTAppOperationActionProtocol::kAppOperationQuit)
    closeSelectButton_->setChecked(true);
  else if (builder->appOperationType() == BTAppOperationActionProtocol::kAppOperationLaunch)
    openSelectButton_->setChecked(true);
  auto weak = weakSelf<AppOperationActionEditorView>();
  for (QRadioButton* button : {openSelectButton_, closeSelectButton_})
    QObject::connect(button, &QRadioButton::clicked, button, [weak, button] {
      if (auto self = weak.lock()) self->onFileOperationSelected(button);
    });
  QObject::connect(browseButton_, &QPushButton::clicked, browseButton_, [weak] {
    if (auto self = weak.lock()) self->onBrowseFileSelected();
  });
  builderValues("appFilepathValue")->subscribeNext([weak](const tw::Value& v) {
    auto self = weak.lock();
    if (!self) return;
    const std::string* path = v.string();
    self->filepathValueLabel_->setText(
        path ? QString::fromStdString(tw::DesktopEntry::displayName(*path)) : QString());
    self->setShouldSave(v.string() && !v.string()->empty());
  });
}

void AppOperationActionEditorView::onFileOperationSelected(QObject* sender) {
  if (!sender) return;
  const QVariant tag = sender->property("tag");
  if (!tag.isValid()) return;
  if (tag.toInt() == 0)
    actionBuilder_->setAppOperationType(BTAppOperationActionProtocol::kAppOperationLaunch);
  else if (tag.toInt() == 1)
    actionBuilder_->setAppOperationType(BTAppOperationActionProtocol::kAppOperationQuit);
}

std::string AppOperationActionEditorView::applicationsFolder() {
  const QString own = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
  for (const QString& folder :
       QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation))
    if (folder != own && std::filesystem::is_directory(folder.toStdString()))
      return folder.toStdString();
  return "/usr/share/applications";
}

void AppOperationActionEditorView::onBrowseFileSelected() {
  std::weak_ptr<BTActionBuilder> weakBuilder = actionBuilder_;
  // Applications are their desktop entries, listed by the names they show in menus.
  ApplicationChooser::chooseApplication(actionBuilder_->appFilepathValue())
      ->continueWithBlock([weakBuilder](const BFTaskPtr& task) {
        auto builder = weakBuilder.lock();
        if (!builder || task->isCancelled() || task->error() || !task->result().string()) return;
        builder->setAppFilepathValue(*task->result().string());
      });
}
