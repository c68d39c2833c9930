#pragma once
// FileOperationActionEditorView: the open-a-file kind: the chosen file's name and a button that
// opens the file panel at the current file; complete once a path is chosen. A cancelled panel
// changes nothing. Made by the action editor; main thread only.

#include <QLabel>
#include <QPushButton>

#include "app/Source/ActionEditor/ActionObjectEditorView.h"

class FileOperationActionEditorView : public ActionObjectEditorView {
 public:
  FileOperationActionEditorView();
  QLabel* filepathValueLabel() const { return filepathValueLabel_; }
  QPushButton* browseButton() const { return browseButton_; }

  void loadViewWithBuilder(const std::shared_ptr<BTActionBuilder>& builder) override;
  void onBrowseFileSelected();

 private:
  QLabel* filepathValueLabel_;
  QPushButton* browseButton_;
};

// The last component of a path ("" for none): what the path labels show.
namespace tw::app {
QString lastPathComponent(const tw::Value& path);
}  // namespace tw::app
