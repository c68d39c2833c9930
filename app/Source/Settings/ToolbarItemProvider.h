#pragma once
// ToolbarItemProvider: what a settings pane tells the settings window about itself, for its
// item in the window's toolbar: a localised title and an image. Adopted by every pane handed to
// SettingsWindowController. Main thread only.

#include <QIcon>
#include <string>

class ToolbarItemProvider {
 public:
  virtual ~ToolbarItemProvider() = default;
  virtual std::string toolbarItemTitle() const = 0;
  virtual QIcon toolbarItemImage() const = 0;
};
