#include "app/Source/Actions/FileOperationActionUtil.h"

#include <QApplication>
#include <QDir>
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
  // Over the window the user works in (the action editor), not at the screen's corner.
  QFileDialog panel(QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                      : QApplication::activeWindow());
  panel.setObjectName("FileOperationPanel");
  panel.setFileMode(QFileDialog::ExistingFile);
  panel.setOption(QFileDialog::DontUseNativeDialog);
  panel.setOption(QFileDialog::ReadOnly);  // no folder creation
  const QString start = QString::fromStdString(startFolder(directory, filepath));
  // Only an existing file is selected; a folder (or a missing one, such as a Documents folder
  // the user never made) is where the panel starts, its name never put into the name field.
  const QFileInfo info(start);
  if (info.isFile())
    panel.selectFile(start);
  else
    panel.setDirectory(info.isDir() ? start : QDir::homePath());
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
