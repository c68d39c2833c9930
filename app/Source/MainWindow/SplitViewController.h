#pragma once
// SplitViewController: the main window's content. Puts the master list (item 0) beside the
// detail pane (item 1), is the master list's delegate, and for every selection loads a fresh
// timing display for the selected time object (the stopwatch display for stopwatches) and hands
// it to the detail pane with the master list's transition. The detail pane's next responder is
// the master list, so actions the pane does not take travel on to the list.
// Made by the interface "Main"; owned by the root window controller. Main thread only.

#include <memory>

#include "app/Source/MainWindow/DetailViewController.h"
#include "app/Source/MainWindow/MasterViewControllerDelegate.h"
#include "platform/ui/ViewController.h"

class SplitView;

class SplitViewController : public tw::ui::ViewController, public MasterViewControllerDelegate {
 public:
  // Items: the master list controller and the detail controller.
  SplitViewController(std::shared_ptr<tw::ui::ViewController> master,
                      std::shared_ptr<DetailViewController> detail);

  std::shared_ptr<tw::ui::ViewController> masterViewController() const { return master_; }
  std::shared_ptr<DetailViewController> detailViewController() const { return detail_; }

  void masterViewControllerDidSelectTimeObject(
      tw::ui::ViewController& master, const std::shared_ptr<BTTimeObject>& timeObject,
      const std::shared_ptr<const BTViewTransition>& transition) override;

  // A fresh timing display for the object, view loaded, object set; null when its interface
  // is not registered.
  std::shared_ptr<tw::ui::ViewController> contentViewControllerFor(
      const std::shared_ptr<BTTimeObject>& timeObject);

 protected:
  void loadView() override;
  void viewDidLoad() override;

 private:
  std::shared_ptr<tw::ui::ViewController> master_;
  std::shared_ptr<DetailViewController> detail_;
};
