#pragma once
// BTSystemEventAction: the stored action of its kind; what it does and its value codes are told
// in BTSystemEventActionProtocol.h. Owned by its store context; main thread only.

#include <cstdint>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTSystemEventActionProtocol.h"

class BTSystemEventAction : public BTActionObject, public virtual BTSystemEventActionProtocol {
 public:
  std::int64_t systemEventType() const override {
    return int64ForKey(BTModelKey::kSystemEventType);
  }
  void setSystemEventType(std::int64_t systemEventType) override;
};
