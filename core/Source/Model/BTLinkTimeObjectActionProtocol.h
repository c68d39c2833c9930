#pragma once
// BTLinkTimeObjectActionProtocol: starts, pauses or resets another time object.
//   targetAction: 1 start, 2 pause, 3 reset; other values do nothing.
// Adopted by the stored BTLinkTimeObjectAction and by the action builders; main thread only. See
// BTActionObjectProtocol.h for the naming and the rule on telling kinds apart.

#include <cstdint>
#include <memory>

#include "core/Source/Model/BTActionObjectProtocol.h"

class BTLinkTimeObjectActionProtocol : public virtual BTActionObjectProtocol {
 public:
  virtual std::shared_ptr<BTTimeObject> targetTimeObject() const = 0;
  virtual void setTargetTimeObject(const std::shared_ptr<BTTimeObject>& targetTimeObject) = 0;
  virtual std::int64_t targetAction() const = 0;
  virtual void setTargetAction(std::int64_t targetAction) = 0;
};
