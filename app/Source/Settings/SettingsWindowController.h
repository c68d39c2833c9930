#pragma once
// SettingsWindowController: the preferences window. Made only with a list of panes (each a view
// controller adopting ToolbarItemProvider), which it shows as the tabs of its
// SettingsTabViewController; the window, titled and closable, is made by the controller itself,
// first sized to the first pane. showWindow centres the window when it is not on screen, so a
// window that is already visible keeps its place.
//
// Made once by the application delegate on the first Preferences command and kept for the rest of
// the process (shared_ptr). Main thread only.

#include <memory>
#include <vector>

#include "app/Source/Settings/SettingsTabViewController.h"
#include "platform/ui/WindowController.h"

class SettingsWindowController : public tw::ui::WindowController {
 public:
  // Raises NSInvalidArgumentException "`viewControllers` cannot be nil or empty" for an empty
  // list; no window is made then.
  static std::shared_ptr<SettingsWindowController> initWithViewControllers(
      const std::vector<std::shared_ptr<tw::ui::ViewController>>& viewControllers);
  // Both initialisers of a plain window controller end in the exception above: there is no
  // settings window without panes.
  static std::shared_ptr<SettingsWindowController> initWithWindow(QWidget* window);

  std::shared_ptr<SettingsTabViewController> tabViewController() const { return tabs_; }

  void showWindow(QObject* sender = nullptr) override;

  // Use initWithViewControllers.
  SettingsWindowController() = default;

 protected:
  QWidget* loadWindow() override;

 private:
  void setUp(const std::vector<std::shared_ptr<tw::ui::ViewController>>& viewControllers);

  std::shared_ptr<SettingsTabViewController> tabs_;
  QSize firstContentSize_;
};
