#pragma once
// BTStopwatchListItemViewModel: a stopwatch's row of the master list: no set value, and red
// rather than yellow while paused. Made through
// BTTimeObjectListItemViewModel::create<BTStopwatchListItemViewModel>; main thread only.

#include <memory>

#include "core/Source/ViewModels/BTTimeObjectListItemViewModel.h"

class BTStopwatchListItemViewModel : public BTTimeObjectListItemViewModel {
 public:
  using BTTimeObjectListItemViewModel::BTTimeObjectListItemViewModel;
  std::shared_ptr<RACSignal> stateColorSignal() override;
};
