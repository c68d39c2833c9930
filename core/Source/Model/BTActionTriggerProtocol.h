#pragma once
// BTActionTriggerProtocol: how the system reads a trigger, stored (BTActionTrigger and its
// kinds) or built by the editor. A plain trigger of this protocol alone is the generic kind 0;
// the state and time kinds adopt BTStateTriggerProtocol / BTTimeTriggerProtocol.
// Main thread only. Naming: see BTActionObjectProtocol.h.
//
// Firing: the control of a running time object asks every action's trigger to tryActivate() on
// each tick (and once more when the object finishes) and runs the action when it answers true;
// it sends reset() to every trigger when the object is reset. Only stored triggers fire: an
// editor's unstored trigger keeps the defaults below (never fires, nothing to reset).
//
// The protocol's runtime descriptor (tw::protocolOf<BTActionTriggerProtocol>(), for proxies and
// tw::conformsTo) lists the members that any trigger, whoever stands behind it, answers to:
// actionObject, setActionObject: and the read-only triggered (isTriggered). Firing is left out,
// since only stored triggers fire.

#include <memory>

#include "core/Source/Library/Proxying/Protocol.h"

class BTActionObjectProtocol;

class BTActionTriggerProtocol {
 public:
  virtual ~BTActionTriggerProtocol() = default;

  virtual std::shared_ptr<BTActionObjectProtocol> actionObject() const = 0;
  virtual void setActionObject(const std::shared_ptr<BTActionObjectProtocol>& actionObject) = 0;
  // Spent: fired in this run of its time object.
  virtual bool isTriggered() const = 0;

  // Armed -> spent: true at most once between two reset() calls, and only while the owning action
  // is enabled and the trigger's own condition holds now.
  virtual bool tryActivate() { return false; }
  // Spent -> armed, for the next run of the time object.
  virtual void reset() {}
};

TW_PROTOCOL(BTActionTriggerProtocol, {&tw::rootProtocol()},
            {"actionObject", "setActionObject:", "triggered", "isTriggered"})
