#include "app/Source/Application/Interfaces.h"

#include "app/Source/ActionsList/ActionsListViewController.h"
#include "app/Source/MainWindow/DetailViewController.h"
#include "app/Source/MainWindow/RootWindowController.h"
#include "app/Source/MainWindow/SplitViewController.h"
#include "app/Source/MasterList/MasterViewControllerWithContextMenu.h"
#include "app/Source/TimingDisplay/StopwatchTimingDisplayViewController.h"
#include "core/Source/Library/BTStoryboardLoader.h"

namespace tw::app {

void registerInterfaces() {
  BTStoryboardLoader::Storyboard main;
  const auto makeRoot = []() -> std::shared_ptr<tw::Object> {
    auto split = std::make_shared<SplitViewController>(
        std::make_shared<MasterViewControllerWithContextMenu>(),
        std::make_shared<DetailViewController>());
    return std::make_shared<RootWindowController>(split);
  };
  main.controllers.emplace("rootWindowController", makeRoot);
  main.initialControllerIdentifier = "rootWindowController";
  BTStoryboardLoader::registerStoryboard("Main", std::move(main));

  BTStoryboardLoader::Storyboard display;
  display.controllers.emplace("initial", []() -> std::shared_ptr<tw::Object> {
    return std::make_shared<TimingDisplayViewControllerWithTouchBar>();
  });
  display.initialControllerIdentifier = "initial";
  BTStoryboardLoader::registerStoryboard("TimingDisplayViewController", std::move(display));

  BTStoryboardLoader::Storyboard stopwatch;
  stopwatch.controllers.emplace("initial", []() -> std::shared_ptr<tw::Object> {
    return std::make_shared<StopwatchTimingDisplayViewController>();
  });
  stopwatch.initialControllerIdentifier = "initial";
  BTStoryboardLoader::registerStoryboard("StopwatchTimingDisplayViewController",
                                         std::move(stopwatch));

  // The detail pane's actions list.
  TimingDisplayViewController::setActionsListFactory(
      []() -> std::shared_ptr<tw::ui::ViewController> {
        return std::make_shared<ActionsListViewController>();
      });
}

}  // namespace tw::app
