#pragma once
// BTActionTrigger: the stored trigger of one action, deleted with it; on its own (no state or
// time kind) it is the generic trigger, kind 0, which fires on its first evaluation. Whether it
// has fired in the current run of its time object ("triggered") lives in memory only: after a
// start of the application every trigger is armed again.
//
// The kinds supply their own rule (shouldActivateTrigger); tryActivate puts the checks common
// to every kind in front of it, so the rule is never consulted while the trigger is spent or its
// action disabled (a time trigger's pre-condition is not updated then either).
//
// Owned by its store context; main thread only.

#include <memory>
#include <type_traits>

#include "core/Source/Model/BTActionTriggerProtocol.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTModelKeys.h"
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
  bool isTriggered() const override { return boolForKey(BTModelKey::kTriggered); }
  // Spent already, no action or a disabled one: false. Otherwise the kind's rule decides; when it
  // says yes the trigger is spent and the answer is true.
  bool tryActivate() override;
  // Armed again. Kinds that keep more of a run extend it.
  void reset() override;

  // The kind's own rule, asked by tryActivate only for an armed trigger of an enabled action.
  // The generic trigger always agrees.
  virtual bool shouldActivateTrigger();

  void setTriggered(bool triggered);
  // The stored action itself.
  std::shared_ptr<BTActionObject> storedActionObject() const;
};
