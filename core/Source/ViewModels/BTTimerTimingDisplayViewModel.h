#pragma once
// BTTimerTimingDisplayViewModel: the timing display of a timer: while reset it shows the set
// duration and follows its edits ("timeObject.time"); otherwise the running value. Made through
// BTTimeObjectTimingDisplayViewModel::create<BTTimerTimingDisplayViewModel>; main thread only.

#include "core/Source/ViewModels/BTTimeObjectTimingDisplayViewModel.h"

class BTTimerTimingDisplayViewModel : public BTTimeObjectTimingDisplayViewModel {
 public:
  using BTTimeObjectTimingDisplayViewModel::BTTimeObjectTimingDisplayViewModel;
  // The set duration while reset, else the running value.
  double currentTimingValue() const override;

 protected:
  void subscribe() override;
};
