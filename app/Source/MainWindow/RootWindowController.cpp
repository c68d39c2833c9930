#include "app/Source/MainWindow/RootWindowController.h"

#include "app/Source/MainWindow/MainWindow.h"
#include "platform/foundation/Bundle.h"

RootWindowController::RootWindowController(std::shared_ptr<SplitViewController> split)
    : split_(std::move(split)) {}

MainWindow* RootWindowController::mainWindow() { return static_cast<MainWindow*>(window()); }

QWidget* RootWindowController::loadWindow() {
  auto* window = new MainWindow;
  const auto& name = tw::Bundle::main().objectForInfoDictionaryKey("CFBundleName");
  window->setWindowTitle(QString::fromStdString(name.isString() ? *name.string() : "Tickwell"));
  window->resize(820, 540);
  // Tall enough for a readable time display above two rows of the actions list.
  window->setMinimumSize(560, 440);
  return window;
}

void RootWindowController::windowDidLoad() {
  MainWindow* window = mainWindow();
  window->setTitleBarHeight(kTitleBarHeight);
  window->setCentersStandardButtons(true);
  window->setHidesTitle(true);
  setContentViewController(split_);
  window->update();
}

QWidget* RootWindowController::contentHost() { return mainWindow()->contentHost(); }
