#pragma once
// ApplicationChooser: a small dialog listing the installed applications by the names their
// desktop entries give (with their icons), from every applications folder of the XDG data
// folders, the user's own first; a filter field narrows the list. The chosen application is its
// desktop entry's path. Made on request by the application action's editor view over the window
// the user works in; main thread only.

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <optional>
#include <string>
#include <vector>

#include "platform/tasks/BFTask.h"

class ApplicationChooser : public QDialog {
 public:
  struct Application {
    std::string name;
    std::string icon;
    std::string path;
  };

  explicit ApplicationChooser(QWidget* parent = nullptr);

  // The listed applications of `folders`, by name; an entry id (file name) met again in a later
  // folder is the same application and is skipped.
  static std::vector<Application> installedApplications(const std::vector<std::string>& folders);
  // The XDG applications folders, most particular first.
  static std::vector<std::string> applicationFolders();

  // Selects the row of `path` when listed.
  void selectPath(const std::optional<std::string>& path);
  std::optional<std::string> selectedPath() const;
  QListWidget* list() const { return list_; }
  QLineEdit* filterField() const { return filter_; }

  // Runs the chooser over the active window; the task gives the chosen entry's path, or is
  // cancelled.
  static BFTaskPtr chooseApplication(const std::optional<std::string>& current);

 private:
  void applyFilter(const QString& text);

  QLineEdit* filter_;
  QListWidget* list_;
};
