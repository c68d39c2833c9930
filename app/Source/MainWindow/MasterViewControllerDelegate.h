#pragma once
// MasterViewControllerDelegate: told by the master list which time object the user selected and
// with which transition the detail pane should show it. Adopted by SplitViewController.
// Main thread only.

#include <memory>

class BTTimeObject;
class BTViewTransition;

namespace tw::ui {
class ViewController;
}

class MasterViewControllerDelegate {
 public:
  virtual ~MasterViewControllerDelegate() = default;
  virtual void masterViewControllerDidSelectTimeObject(
      tw::ui::ViewController& master, const std::shared_ptr<BTTimeObject>& timeObject,
      const std::shared_ptr<const BTViewTransition>& transition) = 0;
};

// What a master list controller offers the split view: a delegate to report selections to.
class MasterListController {
 public:
  virtual ~MasterListController() = default;
  virtual void setDelegate(std::weak_ptr<MasterViewControllerDelegate> delegate) = 0;
};

// What a content controller of the detail pane offers: the time object it shows.
class TimeObjectDisplay {
 public:
  virtual ~TimeObjectDisplay() = default;
  virtual void setTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) = 0;
};
