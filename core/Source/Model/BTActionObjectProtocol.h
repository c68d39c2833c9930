#pragma once
// BTActionObjectProtocol: how the rest of the system reads and writes an action, whatever stands
// behind it: a stored BTActionObject entity, a builder of the action editor or a proxy.
// Implementations live on the main thread.
//
// Naming: an interface and the stored entity it describes would share a name, which C++ cannot
// have. The entity keeps the name (BTActionObject, BTDisplayAlertAction, ..., BTActionTrigger,
// BTStateTrigger, BTTimeTrigger), since stored data and key paths spell it, and each interface
// takes the suffix "Protocol" (BTActionObjectProtocol, BTDisplayAlertActionProtocol, ...,
// BTStateTriggerProtocol). The
// protocols without a namesake entity keep their names (BTSortable, BTTiming,
// BTTestActionObject).
//
// The kind of an action or trigger is always told by dynamic_cast to its kind's protocol (or
// tw::conformsTo / tw::interfaceOf where a BTProxy may stand in), never by its class, so builders
// and proxies pass wherever a stored object does.
//
// The runtime descriptor (tw::protocolOf<BTActionObjectProtocol>()) lists BTSortable's members
// as its own: BTSortable is shared with the time objects and has no descriptor.

#include <memory>

#include "core/Source/Library/Proxying/Protocol.h"
#include "core/Source/Model/BTSortable.h"

class BTTimeObject;
class BTActionTriggerProtocol;

class BTActionObjectProtocol : public virtual BTSortable {
 public:
  virtual bool enabled() const = 0;
  virtual void setEnabled(bool enabled) = 0;
  virtual std::shared_ptr<BTTimeObject> timeObject() const = 0;
  virtual void setTimeObject(const std::shared_ptr<BTTimeObject>& timeObject) = 0;
  virtual std::shared_ptr<BTActionTriggerProtocol> trigger() const = 0;
  virtual void setTrigger(const std::shared_ptr<BTActionTriggerProtocol>& trigger) = 0;
};

TW_PROTOCOL(BTActionObjectProtocol, {&tw::rootProtocol()},
            {"sortOrder", "setSortOrder:", "enabled", "setEnabled:", "timeObject",
             "setTimeObject:", "trigger", "setTrigger:"})
