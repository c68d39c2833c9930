// Renders the main window in each view mode, with sample data, and the settings window on each of
// its panes, to PNG files: the look of the screens can be checked by eye. Runs on Qt's offscreen
// platform unless a platform is chosen, with the application's data in a fresh temporary folder
// (the user's own files are never touched).
//
//   tickwell_render_screens <output folder>

#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/Source/ActionEditor/ActionsEditorViewController.h"
#include "app/Source/Application/AppDelegate.h"
#include "app/Source/Application/Interfaces.h"
#include "app/Source/Controls/ModalWindow.h"
#include "app/Source/MainWindow/MainWindow.h"
#include "app/Source/MainWindow/RootWindowController.h"
#include "app/Source/MasterList/MasterViewController.h"
#include "app/Source/Settings/SettingsWindowController.h"
#include "app/tests/SampleData.h"
#include "core/Source/Model/BTActionObjectUtil.h"
#include "core/Source/Model/BTActionTrigger.h"
#include "core/Source/Model/BTCustomMessageAction.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTStateTrigger.h"
#include "core/Source/Model/BTTimeObject.h"
#include "core/Source/Services/BTDefaultCoreDataProvider.h"
#include "core/Source/ViewModels/BTMasterListViewModel.h"
#include "platform/foundation/Dispatch.h"
#include "platform/ui/Application.h"
#include "platform/ui/SharedApplication.h"

namespace {

std::shared_ptr<BTTimeObject> findObject(const std::string& title) {
  for (const auto& object : tw::defaultCoreDataProvider()->objectContext()->findAll<BTTimeObject>())
    if (object->title() == title) return object;
  return nullptr;
}

// A few actions on the sample timer "Tea" (one of them switched off), for the actions list; the
// link action is returned for the editor's screen.
std::shared_ptr<BTActionObject> insertSampleActions() {
  auto tea = findObject("Tea");
  if (!tea) return nullptr;
  std::shared_ptr<BTActionObject> link;
  const auto add = [&](std::shared_ptr<BTActionObject> action, long from, long to, bool on) {
    BTActionObjectUtil::setDefaultValues(*action);
    auto trigger = BTActionTrigger::actionTrigger<BTStateTrigger>();
    trigger->setStateFrom(from);
    trigger->setStateTo(to);
    action->setTrigger(trigger);
    action->setEnabled(on);
    action->setSortOrder(static_cast<std::int64_t>(tea->actions().size()));
    action->setTimeObject(tea);
    tea->addActionObject(action);
    return action;
  };
  add(BTActionObject::actionObject<BTDisplayAlertAction>(), 20, 21, true);
  auto message = BTActionObject::actionObject<BTCustomMessageAction>();
  add(message, 20, 21, true);
  message->setCustomMessageValue(std::string("Tea is ready"));
  message->setCustomMessageMode(3);
  add(BTActionObject::actionObject<BTFlashScreenAction>(), 20, 21, false);
  auto l = BTActionObject::actionObject<BTLinkTimeObjectAction>();
  link = add(l, 0, 20, true);
  l->setTargetTimeObject(findObject("Pasta"));
  l->setTargetAction(1);
  tw::defaultCoreDataProvider()->save();
  return link;
}

bool save(const QImage& image, const std::filesystem::path& file) {
  if (!image.save(QString::fromStdString(file.string()))) {
    std::fprintf(stderr, "cannot write %s\n", file.c_str());
    return false;
  }
  std::printf("%s\n", file.c_str());
  return true;
}

// The action editor in its modal window, for a new action or for `action`.
QImage renderEditor(const std::shared_ptr<BTTimeObject>& object,
                    const std::shared_ptr<BTActionObject>& action) {
  auto editor = action ? std::make_shared<ActionsEditorViewControllerWithTouchBar>(action)
                       : std::make_shared<ActionsEditorViewControllerWithTouchBar>(object);
  ModalWindow window;
  window.setContentViewController(editor->view());
  editor->prepareWindow(&window);
  window.show();
  tw::ui::Application::runEventsUntil([] { return false; }, 0.5);
  QImage image = window.grab().toImage();
  editor->cancelAction();
  window.setContentViewController(nullptr);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path out = std::filesystem::absolute(argv[1]);
  std::filesystem::create_directories(out);
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);

  char root[] = "/tmp/tickwell-render-XXXXXX";
  if (!mkdtemp(root)) return 1;
  for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
    const std::string dir = std::string(root) + "/" + var;
    std::filesystem::create_directories(dir);
    setenv(var, dir.c_str(), 1);
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);

  tw::RunLoop::main();
  tw::ui::Application::ensure(argc, argv);
  tw::app::registerInterfaces();
  auto delegate = std::make_shared<AppDelegate>();
  auto& app = tw::ui::SharedApplication::shared();
  app.launchWithoutLoop(delegate);
  tw::ui::Application::runEventsUntil([] { return false; }, 0.2);

  tw::app::sample::insertShowcase();
  const auto link = insertSampleActions();
  auto window = delegate->windowController();
  auto master = std::dynamic_pointer_cast<MasterViewController>(
      window->splitViewController()->masterViewController());
  const char* names[] = {"alarms", "timers", "stopwatches"};
  int status = 0;
  for (long mode = 0; mode < 3; ++mode) {
    auto model = master->viewModel();
    QWidget* tabs[] = {master->alarmTabButton(), master->timerTabButton(),
                       master->stopwatchTabButton()};
    master->selectTab(tabs[mode]);
    // The samples went into the store after the shown mode's list was loaded: read it again.
    if (auto provider = model->dataProvider()) provider->loadTimeObjects();
    tw::ui::Application::runEventsUntil([] { return false; }, 0.2);
    master->dataObjectsLoaded({});
    model->restoreSelectionIndex(0);
    // Let the swap and the tint finish.
    tw::ui::Application::runEventsUntil([] { return false; }, 1.0);
    const QImage image = window->window()->grab().toImage();
    const std::string file = (out / (std::string("main-window-") + names[mode] + ".png")).string();
    if (!image.save(QString::fromStdString(file))) {
      std::fprintf(stderr, "cannot write %s\n", file.c_str());
      status = 1;
    } else {
      std::printf("%s\n", file.c_str());
    }
  }
  if (link) {
    if (!save(renderEditor(link->timeObject(), nullptr), out / "action-editor-new.png")) status = 1;
    if (!save(renderEditor(nullptr, link), out / "action-editor-link.png")) status = 1;
  }
  // The settings window on each of its panes.
  delegate->showPreferences(nullptr);
  if (auto settings = delegate->settingsWindowController()) {
    const char* panes[] = {"general", "appearance", "updates"};
    for (int pane = 2; pane >= 0; --pane) {
      settings->tabViewController()->setSelectedTabViewItemIndex(pane);
      tw::ui::Application::runEventsUntil([] { return false; }, 0.6);
      const QImage image = settings->window()->grab().toImage();
      const std::string file = (out / (std::string("settings-") + panes[pane] + ".png")).string();
      if (!image.save(QString::fromStdString(file))) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        status = 1;
      } else {
        std::printf("%s\n", file.c_str());
      }
    }
  }
  app.terminateWithoutAsking(0);
  std::filesystem::remove_all(root);
  return status;
}
