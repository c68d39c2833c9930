#pragma once
// BTActionObject: the stored base of the eight action kinds. An action belongs to one time
// object (its "actions") and owns exactly one trigger, deleted with it. New actions carry no
// defaults of their own; the builders apply BTActionObjectUtil::setDefaultValues.
// Owned by its store context; main thread only.

#include <cstdint>
#include <memory>

#include "core/Source/Model/BTActionObjectProtocol.h"
#include "core/Source/Model/BTManagedObject.h"
#include "core/Source/Model/BTManagedObjectFactory.h"
#include "core/Source/Model/BTModelKeys.h"

class BTActionTrigger;

class BTActionObject : public BTManagedObject, public virtual BTActionObjectProtocol {
 public:
  // A new stored action of kind T in the main context (on the Core Data queue).
  template <class T>
  static std::shared_ptr<T> actionObject() {
    static_assert(std::is_base_of_v<BTActionObject, T>);
    return managedObject<T>();
  }

  // BTSortable
  std::int64_t sortOrder() const override { return int64ForKey(BTModelKey::kSortOrder); }
  void setSortOrder(std::int64_t sortOrder) override;

  // BTActionObjectProtocol
  bool enabled() const override { return boolForKey(BTModelKey::kEnabled); }
  void setEnabled(bool enabled) override;
  std::shared_ptr<BTTimeObject> timeObject() const override;
  void setTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) override;
  std::shared_ptr<BTActionTriggerProtocol> trigger() const override;
  // A stored action takes only a stored trigger (a BTActionTrigger of the same context);
  // anything else raises NSInvalidArgumentException.
  void setTrigger(const std::shared_ptr<BTActionTriggerProtocol>& trigger) override;
  // The stored trigger itself.
  std::shared_ptr<BTActionTrigger> actionTrigger() const;
};
