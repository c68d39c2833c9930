#pragma once
// StopwatchTimingDisplayViewController: the timing display of a stopwatch: it drives the
// stopwatch control (split and lap) and colours its buttons by the running state. Owned by the
// detail pane (shared_ptr); main thread only.

#include <memory>

#include "app/Source/TimingDisplay/TimingDisplayViewControllerWithTouchBar.h"

class StopwatchTimingDisplayViewController : public TimingDisplayViewControllerWithTouchBar {
 protected:
  void viewDidLoad() override;
  std::shared_ptr<BTTimeObjectControlViewModel> createControlViewModel() override;
  void onTimeObjectChanged() override;
};
