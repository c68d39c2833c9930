#include "app/Source/Application/Interfaces.h"

#include "app/Source/MainWindow/DetailViewController.h"
#include "app/Source/MainWindow/RootWindowController.h"
#include "app/Source/MainWindow/SplitViewController.h"
#include "app/Source/MainWindow/TimingDisplayPlaceholderViewController.h"
#include "app/Source/MasterList/MasterViewControllerWithContextMenu.h"
#include "core/Source/Library/BTStoryboardLoader.h"

namespace tw::app {

void registerInterfaces() {
  BTStoryboardLoader::Storyboard main;
  const auto makeRoot = []() -> std::shared_ptr<tw::Object> {
    auto split =
        std::make_shared<SplitViewController>(std::make_shared<MasterViewControllerWithContextMenu>(),
                                              std::make_shared<DetailViewController>());
    return std::make_shared<RootWindowController>(split);
  };
  main.controllers.emplace("rootWindowController", makeRoot);
  main.initialControllerIdentifier = "rootWindowController";
  BTStoryboardLoader::registerStoryboard("Main", std::move(main));

  for (const char* name : {"TimingDisplayViewController", "StopwatchTimingDisplayViewController"}) {
    BTStoryboardLoader::Storyboard display;
    display.controllers.emplace("initial", []() -> std::shared_ptr<tw::Object> {
      return std::make_shared<TimingDisplayPlaceholderViewController>();
    });
    display.initialControllerIdentifier = "initial";
    BTStoryboardLoader::registerStoryboard(name, std::move(display));
  }
}

}  // namespace tw::app
