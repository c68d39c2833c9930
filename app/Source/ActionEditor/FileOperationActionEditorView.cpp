#include "app/Source/ActionEditor/FileOperationActionEditorView.h"

#include <filesystem>

#include "app/Source/Actions/FileOperationActionUtil.h"
#include "platform/foundation/Localization.h"
#include "platform/signals/RACSignal.h"

QString tw::app::lastPathComponent(const tw::Value& path) {
  if (!path.string() || path.string()->empty()) return QString();
  std::filesystem::path p(*path.string());
  // "/x/y/" names y, as the folder itself.
  if (!p.has_filename()) p = p.parent_path();
  return QString::fromStdString(p.filename().string());
}

FileOperationActionEditorView::FileOperationActionEditorView()
    : filepathValueLabel_(new QLabel), browseButton_(new QPushButton) {
  widget()->setObjectName("FileOperationActionEditorView");
  addPathRow("File:", filepathValueLabel_, browseButton_);
}

void FileOperationActionEditorView::loadViewWithBuilder(
    const std::shared_ptr<BTActionBuilder>& builder) {
  ActionObjectEditorView::loadViewWithBuilder(builder);
  auto weak = weakSelf<FileOperationActionEditorView>();
  QObject::connect(browseButton_, &QPushButton::clicked, browseButton_, [weak] {
    if (auto self = weak.lock()) self->onBrowseFileSelected();
  });
  builderValues("fileFilepathValue")->subscribeNext([weak](const tw::Value& v) {
    auto self = weak.lock();
    if (!self) return;
    self->filepathValueLabel_->setText(tw::app::lastPathComponent(v));
    self->setShouldSave(v.string() && !v.string()->empty());
  });
}

void FileOperationActionEditorView::onBrowseFileSelected() {
  std::weak_ptr<BTActionBuilder> weakBuilder = actionBuilder_;
  FileOperationActionUtil::selectFileInDirectory(std::nullopt, actionBuilder_->fileFilepathValue(),
                                                 std::nullopt)
      ->continueWithBlock([weakBuilder](const BFTaskPtr& task) {
        auto builder = weakBuilder.lock();
        if (!builder || task->isCancelled() || task->error() || !task->result().string()) return;
        builder->setFileFilepathValue(*task->result().string());
      });
}
