#pragma once
// RootWindowController: the main window's controller: makes the MainWindow, gives it the tall
// title bar (40 points) with centred buttons and a hidden title, and puts the split view
// controller in it. Made by the interface "Main" ("rootWindowController"); owned by the
// application delegate. Main thread only.

#include <memory>

#include "app/Source/MainWindow/SplitViewController.h"
#include "platform/ui/WindowController.h"

class MainWindow;

class RootWindowController : public tw::ui::WindowController {
 public:
  static constexpr double kTitleBarHeight = 40.0;

  explicit RootWindowController(std::shared_ptr<SplitViewController> split);
  MainWindow* mainWindow();
  std::shared_ptr<SplitViewController> splitViewController() const { return split_; }

 protected:
  QWidget* loadWindow() override;
  void windowDidLoad() override;
  QWidget* contentHost() override;

 private:
  std::shared_ptr<SplitViewController> split_;
};
