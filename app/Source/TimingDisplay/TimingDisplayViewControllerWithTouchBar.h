#pragma once
// TimingDisplayViewControllerWithTouchBar: the timing display that also mirrors the object's
// title, running value and both buttons on the touch bar model, and offers its list item view
// model for the value. Owned by the detail pane (shared_ptr); main thread only.

#include <memory>

#include "app/Source/TimingDisplay/TimingDisplayViewController.h"

class BTTimeObjectListItemViewModel;

class TimingDisplayViewControllerWithTouchBar : public TimingDisplayViewController {
 public:
  const std::shared_ptr<BTTimeObjectListItemViewModel>& itemViewModel() const {
    return itemViewModel_;
  }
  static constexpr const char* kTitleItem = "com.velmora.Tickwell.touchbar.title";
  static constexpr const char* kValueItem = "com.velmora.Tickwell.touchbar.value";
  static constexpr const char* kStartItem = "com.velmora.Tickwell.touchbar.start";
  static constexpr const char* kResetItem = "com.velmora.Tickwell.touchbar.reset";

 protected:
  void viewDidLoad() override;
  void onTimeObjectNotSet() override;
  void onTimeObjectChanged() override;
  std::shared_ptr<tw::ui::TouchBar> makeTouchBar() override;
  std::shared_ptr<BTTimeObjectListItemViewModel> createItemViewModel();

 private:
  std::shared_ptr<BTTimeObjectListItemViewModel> itemViewModel_;
};
