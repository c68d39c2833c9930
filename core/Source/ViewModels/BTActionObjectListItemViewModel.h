#pragma once
// BTActionObjectListItemViewModel: one row of the actions list: whether the action is enabled
// (observable key "enabled", following the action), what it does and when it fires. Made by the
// list's cells through BTActionObjectViewModel::create<BTActionObjectListItemViewModel>; main
// thread only.

#include <memory>
#include <string>

#include "core/Source/ViewModels/BTActionObjectViewModel.h"

class RACSignal;

class BTActionObjectListItemViewModel : public BTActionObjectViewModel {
 public:
  using BTActionObjectViewModel::BTActionObjectViewModel;

  std::shared_ptr<RACSignal> enabledSignal();
  bool isEnabled() const { return enabled_; }
  // Always empty: the row's title is the description.
  std::string actionName() const { return std::string(); }
  // What the action does; empty when there is nothing to say.
  std::string actionDescription() const;
  // When it fires; "(error: no trigger specified)" without a trigger of a described kind.
  std::string triggerDescription() const;

 protected:
  void bindViewModel() override;
  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;

 private:
  bool enabled_ = false;
};
