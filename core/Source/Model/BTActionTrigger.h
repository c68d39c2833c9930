#pragma once
// BTActionTrigger: the stored trigger of one action, deleted with it; on its own (no state or
// time kind) it is the generic trigger, kind 0. Whether it has fired in the current run of its
// time object ("triggered") lives in memory only: after a start of the application every
// trigger is armed again.
// Owned by its store context; main thread only.

#include <memory>
#include <type_traits>

#include "core/Source/Model/BTActionTriggerProtocol.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "platform/store/ManagedObject.h"

class BTActionObject;

class BTActionTrigger : public tw::store::ManagedObject, public virtual BTActionTriggerProtocol {
 public:
  // A new stored trigger of kind T in the main context (on the Core Data queue).
  template <class T>
  static std::shared_ptr<T> actionTrigger() {
    static_assert(std::is_base_of_v<BTActionTrigger, T>);
    return managedObject<T>();
  }

  // BTActionTriggerProtocol
  std::shared_ptr<BTActionObjectProtocol> actionObject() const override;
  // Only a stored action of the same context; anything else raises NSInvalidArgumentException.
  void setActionObject(const std::shared_ptr<BTActionObjectProtocol>& actionObject) override;
  bool isTriggered() const override { return boolForKey("triggered"); }

  void setTriggered(bool triggered);
  // The stored action itself.
  std::shared_ptr<BTActionObject> storedActionObject() const;
};
