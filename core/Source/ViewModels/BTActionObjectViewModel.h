#pragma once
// BTActionObjectViewModel: base of the view models that show one action; keeps the action
// (key "actionObject"). BTActionObjectListItemViewModel: one row of the actions list: whether
// the action is enabled (observable key "enabled", following the action), what it does and when
// it fires.
//
// Made by the actions list's cells through create<T>(action) and owned by them; main thread
// only.

#include <memory>
#include <string>

#include "core/Source/Library/BTTimeObjectViewModel.h"
#include "core/Source/Model/BTActionObject.h"
#include "platform/foundation/Object.h"

class RACSignal;

class BTActionObjectViewModel : public tw::Object, public BTBindableViewModel {
 protected:
  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };

 public:
  // initWithActionObject: a view model of class T, bound.
  template <class T = BTActionObjectViewModel>
  static std::shared_ptr<T> create(std::shared_ptr<BTActionObject> action) {
    auto model = std::make_shared<T>(ConstructionKey{}, std::move(action));
    static_cast<BTActionObjectViewModel&>(*model).bindViewModel();
    return model;
  }
  BTActionObjectViewModel(ConstructionKey, std::shared_ptr<BTActionObject> action);
  // A view model without its action is a programming error: raises
  // NSInternalInconsistencyException "Unsupported initalizer use `initWithActionObject:`
  // instead".
  BTActionObjectViewModel();

  const std::shared_ptr<BTActionObject>& actionObject() const { return actionObject_; }

 protected:
  virtual void bindViewModel() {}
  bool getValueForKey(std::string_view key, tw::Value& out) const override;

 private:
  std::shared_ptr<BTActionObject> actionObject_;
};

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
