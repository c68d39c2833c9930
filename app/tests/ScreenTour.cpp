#include "app/tests/ScreenTour.h"

#include <QApplication>
#include <QToolButton>

#include "app/Source/ActionEditor/ActionsEditorViewController.h"
#include "app/Source/ActionEditor/PopUpButton.h"
#include "app/Source/Application/AppDelegate.h"
#include "app/Source/Controls/ModalWindow.h"
#include "app/Source/MainWindow/RootWindowController.h"
#include "app/Source/MainWindow/SplitViewController.h"
#include "app/Source/MasterList/MasterViewController.h"
#include "app/Source/MasterList/Popover.h"
#include "app/Source/Settings/SettingsTabViewController.h"
#include "app/Source/Settings/SettingsWindowController.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/ViewModels/BTMasterListViewModel.h"
#include "platform/ui/Application.h"

namespace tw::app::sample {

void settleScreens(double seconds) {
  tw::ui::Application::runEventsUntil([] { return false; }, seconds);
}

namespace {

tw::Popover* openPopover() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* popover = dynamic_cast<tw::Popover*>(w); popover && popover->isVisible())
      return popover;
  return nullptr;
}

void closePopovers() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* popover = dynamic_cast<tw::Popover*>(w); popover && popover->isVisible())
      popover->close();
  settleScreens(0.05);
}

void resizeMain(QWidget* window, int size, const QSize& defaultSize) {
  window->showNormal();
  settleScreens(0.05);
  if (size == 0) window->resize(window->minimumSize());
  if (size == 1) window->resize(defaultSize);
  if (size == 2) window->showMaximized();
  // Long enough for the detail pane's content swap (0.5 s) and the tint.
  settleScreens(0.7);
}

}  // namespace

void tourScreens(const std::shared_ptr<AppDelegate>& delegate,
                 const std::function<void(const Screen&)>& visit) {
  auto controller = delegate->windowController();
  QWidget* window = controller->window();
  auto master = std::dynamic_pointer_cast<MasterViewController>(
      controller->splitViewController()->masterViewController());
  const QSize defaultSize = window->size();
  const char* modes[] = {"alarms", "timers", "stopwatches"};
  const char* popovers[] = {"alarm", "timer", nullptr};
  QWidget* tabs[] = {master->alarmTabButton(), master->timerTabButton(),
                     master->stopwatchTabButton()};
  for (int mode = 0; mode < 3; ++mode) {
    master->selectTab(tabs[mode]);
    auto model = master->viewModel();
    if (auto provider = model->dataProvider()) provider->loadTimeObjects();
    settleScreens(0.1);
    master->dataObjectsLoaded({});
    model->restoreSelectionIndex(0);
    settleScreens(0.7);  // the detail pane's swap
    for (int folded = 0; folded < (mode == 1 ? 2 : 1); ++folded) {
      auto* fold = window->findChild<QToolButton*>("FoldButton");
      if (folded && fold) fold->click();
      for (int size = 0; size < 3; ++size) {
        resizeMain(window, size, defaultSize);
        const std::string suffix = std::string(folded ? "-folded-" : "-") + kSizeNames[size];
        visit({std::string("main-") + modes[mode] + suffix, window, nullptr});
        if (popovers[mode] && !folded) {
          model->editObjectValueAtIndex(model->selectionIndex());
          settleScreens(0.2);
          visit({std::string("popover-") + popovers[mode] + "-" + kSizeNames[size], window,
                 openPopover()});
          closePopovers();
        }
      }
      if (folded && fold) fold->click();
    }
  }
  resizeMain(window, 1, defaultSize);

  // The action editor for each kind, for the first timer.
  master->selectTab(tabs[1]);
  settleScreens(0.2);
  std::shared_ptr<BTTimeObject> object;
  if (auto model = master->viewModel(); model->dataProvider())
    if (const auto& objects = model->dataProvider()->timeObjects(); !objects.empty())
      object = objects.front();
  if (object) {
    auto editor = std::make_shared<ActionsEditorViewControllerWithTouchBar>(object);
    auto* editorWindow = new ModalWindow(window);
    editorWindow->setContentViewController(editor->view());
    editor->prepareWindow(editorWindow);
    editorWindow->show();
    settleScreens(0.3);
    for (QAction* item : editor->actionSelectButton()->items()) {
      if (!item->isEnabled()) continue;
      editor->actionSelectButton()->chooseItem(item);
      settleScreens(0.3);
      visit({"editor-" + item->data().toString().toStdString(), editorWindow, nullptr});
    }
    editor->cancelAction();
    editorWindow->setContentViewController(nullptr);
    delete editorWindow;
  }

  // The settings window on each of its panes.
  delegate->showPreferences(nullptr);
  if (auto settings = delegate->settingsWindowController()) {
    const char* panes[] = {"general", "appearance", "updates"};
    for (int pane = 0; pane < 3; ++pane) {
      settings->tabViewController()->setSelectedTabViewItemIndex(pane);
      settleScreens(0.6);
      visit({std::string("settings-") + panes[pane], settings->window(), nullptr});
    }
    settings->window()->close();
  }
}

}  // namespace tw::app::sample
