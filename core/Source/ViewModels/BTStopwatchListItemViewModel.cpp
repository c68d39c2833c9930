#include "core/Source/ViewModels/BTStopwatchListItemViewModel.h"

#include "platform/signals/RACSignal.h"

std::shared_ptr<RACSignal> BTStopwatchListItemViewModel::stateColorSignal() {
  return stateColorSignalWithPausedColor("TimingStateRed");
}
