#pragma once
// BTTimeObjectViewModel: base of every view model that shows or drives one time object (the
// list items, the controls, the editing and actions view models). Keeps the time object, which
// never changes afterwards, and exposes it to key-value coding as "timeObject", so screens bind
// to key paths such as "timeObject.title". Owned through std::shared_ptr; main thread only, like
// the time object itself.

#include <memory>

#include "core/Source/Model/BTTimeObject.h"
#include "platform/foundation/Object.h"

// Marker of the view models a bindable screen element accepts. No methods: adopting it is the
// whole contract.
class BTBindableViewModel {
 public:
  virtual ~BTBindableViewModel() = default;
};

class BTTimeObjectViewModel : public tw::Object, public BTBindableViewModel {
 public:
  explicit BTTimeObjectViewModel(std::shared_ptr<BTTimeObject> timeObject);
  // A view model without its time object is a programming error: raises
  // NSInternalInconsistencyException "Unsupported initalizer use `initWithTimeObject:` instead".
  BTTimeObjectViewModel();

  const std::shared_ptr<BTTimeObject>& timeObject() const { return timeObject_; }

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;

 private:
  const std::shared_ptr<BTTimeObject> timeObject_;
};
