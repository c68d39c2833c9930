#pragma once
// BTLinkTimeObjectAction: the stored action of its kind; what it does and its value codes are told
// in BTLinkTimeObjectActionProtocol.h. Owned by its store context; main thread only.

#include <cstdint>
#include <memory>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTLinkTimeObjectActionProtocol.h"
#include "core/Source/Model/BTModelKeys.h"

class BTLinkTimeObjectAction : public BTActionObject,
                               public virtual BTLinkTimeObjectActionProtocol {
 public:
  // The time object this action starts, pauses or resets; it lists this action among its
  // linkedActions.
  std::shared_ptr<BTTimeObject> targetTimeObject() const override;
  void setTargetTimeObject(const std::shared_ptr<BTTimeObject>& targetTimeObject) override;
  std::int64_t targetAction() const override { return int64ForKey(BTModelKey::kTargetAction); }
  void setTargetAction(std::int64_t targetAction) override;
};
