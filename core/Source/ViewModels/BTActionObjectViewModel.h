#pragma once
// BTActionObjectViewModel: base of the view models that show one action; keeps the action
// (key "actionObject"). Made through create<T>(action) by whoever shows the action, and owned by
// it; main thread only.

#include <memory>
#include <string>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Timing/BTTimeObjectViewModel.h"
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
