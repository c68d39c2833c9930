#pragma once
// AppOperationActionEditorView: the application kind: launch or quit, the chosen application's
// name (its desktop entry's Name), and a button that opens the chooser of installed
// applications; complete once an application is chosen. Made by the action editor;
// main thread only.

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <string>

#include "app/Source/ActionEditor/ActionObjectEditorView.h"

class AppOperationActionEditorView : public ActionObjectEditorView {
 public:
  AppOperationActionEditorView();
  QRadioButton* openSelectButton() const { return openSelectButton_; }
  QRadioButton* closeSelectButton() const { return closeSelectButton_; }
  QLabel* filepathValueLabel() const { return filepathValueLabel_; }
  QPushButton* browseButton() const { return browseButton_; }

  void loadViewWithBuilder(const std::shared_ptr<BTActionBuilder>& builder) override;
  // Tag 0 launches (1), tag 1 quits (2); any other tag changes nothing.
  void onFileOperationSelected(QObject* sender);
  void onBrowseFileSelected();
  // Where the panel opens: the first existing system-wide applications folder.
  static std::string applicationsFolder();

 private:
  QRadioButton* openSelectButton_;
  QRadioButton* closeSelectButton_;
  QLabel* filepathValueLabel_;
  QPushButton* browseButton_;
};
