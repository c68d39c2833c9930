#pragma once
// MasterListItemEditingPopover: edits the set value of a timer (hours, minutes, seconds) in a
// popover beside its row. Every change goes at once to the editing view model, which clamps it
// and updates the object; there is no confirm or cancel, so closing the popover is its save: the
// store writes its changes right then instead of with the auto-save. MasterListAlarmEditingPopover
// adds the meridiem switch and the weekday buttons for alarms. A new controller and view model per
// request; owned by its popover. Main thread only.

#include <QLabel>
#include <memory>

#include "app/Source/MasterList/Popover.h"
#include "app/Source/MasterList/TimeValueTextField.h"
#include "platform/ui/ViewController.h"

class BTTimeObject;
class BTTimeObjectListItemEditingViewModel;

class MasterListItemEditingPopover : public tw::ui::ViewController {
 public:
  explicit MasterListItemEditingPopover(std::shared_ptr<BTTimeObject> timeObject);
  ~MasterListItemEditingPopover() override;

  // The popover for the object, built with the controller class T; the caller shows it.
  template <class T = MasterListItemEditingPopover>
  static tw::Popover* popoverWithTimeObject(std::shared_ptr<BTTimeObject> timeObject) {
    auto controller = std::make_shared<T>(std::move(timeObject));
    return new tw::Popover(controller);
  }

  const std::shared_ptr<BTTimeObject>& timeObject() const { return timeObject_; }
  const std::shared_ptr<BTTimeObjectListItemEditingViewModel>& viewModel() const {
    return viewModel_;
  }
  QLabel* titleLabel() const { return titleLabel_; }
  QWidget* hoursSegmentView() const { return hoursSegmentView_; }
  QWidget* minutesSegmentView() const { return minutesSegmentView_; }
  QWidget* secondsSegmentView() const { return secondsSegmentView_; }
  TimeValueTextField* hoursField() const { return hoursField_; }
  TimeValueTextField* minutesField() const { return minutesField_; }
  TimeValueTextField* secondsField() const { return secondsField_; }

 protected:
  void loadView() override;
  void viewDidLoad() override;
  void viewDidDisappear() override;
  virtual std::shared_ptr<BTTimeObjectListItemEditingViewModel> createViewModel();
  virtual void bindViewModel();
  // Extra rows of the subclass, laid out below the units.
  virtual void loadExtraViews(QWidget* /*root*/) {}

  std::shared_ptr<BTTimeObject> timeObject_;
  std::shared_ptr<BTTimeObjectListItemEditingViewModel> viewModel_;
  QWidget* headerView_ = nullptr;
  QLabel* titleLabel_ = nullptr;
  QWidget* unitsRow_ = nullptr;
  QWidget* hoursSegmentView_ = nullptr;
  QWidget* minutesSegmentView_ = nullptr;
  QWidget* secondsSegmentView_ = nullptr;
  TimeValueTextField* hoursField_ = nullptr;
  TimeValueTextField* minutesField_ = nullptr;
  TimeValueTextField* secondsField_ = nullptr;
};
