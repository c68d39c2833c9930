#pragma once
// BTTimerListItemViewModel: a timer's row of the master list: its set duration as static text
// ("1:30"), following edits of the time setting. Made through
// BTTimeObjectListItemViewModel::create<BTTimerListItemViewModel>; main thread only.

#include <memory>

#include "core/Source/ViewModels/BTTimeObjectListItemViewModel.h"

class BTTimerListItemViewModel : public BTTimeObjectListItemViewModel {
 public:
  using BTTimeObjectListItemViewModel::BTTimeObjectListItemViewModel;
  std::shared_ptr<RACSignal> staticValueDescriptionSignal() override;
};
