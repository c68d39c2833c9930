#include "app/Source/MainWindow/SplitViewController.h"

#include "app/Source/MainWindow/SplitView.h"
#include "core/Source/Library/BTStoryboardLoader.h"
#include "core/Source/Model/BTTimeObject.h"
#include "platform/foundation/Dispatch.h"

SplitViewController::SplitViewController(std::shared_ptr<tw::ui::ViewController> master,
                                         std::shared_ptr<DetailViewController> detail)
    : master_(std::move(master)), detail_(std::move(detail)) {}

void SplitViewController::loadView() {
  auto* split = new SplitView;
  if (master_) split->addWidget(master_->view());
  if (detail_) split->addWidget(detail_->view());
  split->setStretchFactor(0, 0);
  split->setStretchFactor(1, 1);
  split->setSizes({280, 520});
  setView(split);
}

void SplitViewController::viewDidLoad() {
  auto self = std::static_pointer_cast<SplitViewController>(selfResponder());
  if (master_) addChildViewController(master_);
  if (detail_) addChildViewController(detail_);
  if (auto* list = dynamic_cast<MasterListController*>(master_.get()))
    list->setDelegate(std::static_pointer_cast<MasterViewControllerDelegate>(self));
  if (detail_) detail_->setNextResponder(master_);
}

void SplitViewController::masterViewControllerDidSelectTimeObject(
    tw::ui::ViewController&, const std::shared_ptr<BTTimeObject>& timeObject,
    const std::shared_ptr<const BTViewTransition>& transition) {
  TW_MAIN_THREAD_ONLY("SplitViewController::masterViewControllerDidSelectTimeObject");
  if (!detail_) return;
  detail_->setViewController(contentViewControllerFor(timeObject), transition);
}

std::shared_ptr<tw::ui::ViewController> SplitViewController::contentViewControllerFor(
    const std::shared_ptr<BTTimeObject>& timeObject) {
  const bool stopwatch = timeObject && timeObject->isStopwatchType();
  auto object = BTStoryboardLoader::loadInitialControllerFromStoryboard(
      stopwatch ? "StopwatchTimingDisplayViewController" : "TimingDisplayViewController", nullptr);
  auto controller = std::dynamic_pointer_cast<tw::ui::ViewController>(object);
  if (!controller) return nullptr;
  controller->view();
  if (auto* display = dynamic_cast<TimeObjectDisplay*>(controller.get()))
    display->setTimeObject(timeObject);
  return controller;
}
