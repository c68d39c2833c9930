#include "app/Source/Actions/FileOperationActionUtil.h"

#include <QFileDialog>
#include <QStandardPaths>
#include <filesystem>

#include "platform/tasks/BFTaskCompletionSource.h"

namespace fs = std::filesystem;

std::string FileOperationActionUtil::startFolder(const std::optional<std::string>& directory,
                                                 const std::optional<std::string>& filepath) {
  std::error_code ec;
  if (filepath && !filepath->empty() && fs::exists(*filepath, ec)) {
    if (fs::is_directory(*filepath, ec)) return fs::path(*filepath).parent_path().string();
    return *filepath;
  }
  if (directory && !directory->empty() && fs::exists(*directory, ec)) return *directory;
  return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
}

BFTaskPtr FileOperationActionUtil::selectFileInDirectory(
    const std::optional<std::string>& directory, const std::optional<std::string>& filepath,
    const std::optional<std::vector<std::string>>& types) {
  QFileDialog panel;
  panel.setObjectName("FileOperationPanel");
  panel.setFileMode(QFileDialog::ExistingFile);
  panel.setOption(QFileDialog::DontUseNativeDialog);
  panel.setOption(QFileDialog::ReadOnly);  // no folder creation
  const QString start = QString::fromStdString(startFolder(directory, filepath));
  if (QFileInfo(start).isDir())
    panel.setDirectory(start);
  else
    panel.selectFile(start);
  if (types && !types->empty()) {
    QStringList patterns;
    for (const auto& type : *types) patterns << "*." + QString::fromStdString(type);
    panel.setNameFilter(patterns.join(' '));
  }
  auto source = BFTaskCompletionSource::taskCompletionSource();
  if (panel.exec() == QDialog::Accepted && !panel.selectedFiles().isEmpty())
    source->setResult(tw::Value(panel.selectedFiles().front().toStdString()));
  else
    source->cancel();
  return source->task();
}
