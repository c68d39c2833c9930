#pragma once
// BTActionTriggerProtocol: how the system reads a trigger, stored (BTActionTrigger and its
// kinds) or built by the editor. A plain trigger of this protocol alone is the generic kind 0;
// the state and time kinds adopt BTStateTriggerProtocol / BTTimeTriggerProtocol.
// Main thread only. Naming: see BTActionObjectProtocol.h.

#include <memory>

class BTActionObjectProtocol;

class BTActionTriggerProtocol {
 public:
  virtual ~BTActionTriggerProtocol() = default;

  virtual std::shared_ptr<BTActionObjectProtocol> actionObject() const = 0;
  virtual void setActionObject(const std::shared_ptr<BTActionObjectProtocol>& actionObject) = 0;
  // Spent: fired in this run of its time object.
  virtual bool isTriggered() const = 0;
};
