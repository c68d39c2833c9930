#pragma once
// BTDisplayAlertAction: the stored action of its kind; what it does and its value codes are told
// in BTDisplayAlertActionProtocol.h. Owned by its store context; main thread only.

#include <cstdint>
#include <optional>
#include <string>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTDisplayAlertActionProtocol.h"

class BTDisplayAlertAction : public BTActionObject, public virtual BTDisplayAlertActionProtocol {
 public:
  std::int64_t alertSoundType() const override { return int64ForKey("alertSoundType"); }
  void setAlertSoundType(std::int64_t alertSoundType) override;
  std::optional<std::string> alertCustomMessage() const override {
    return stringForKey("alertCustomMessage");
  }
  void setAlertCustomMessage(const std::optional<std::string>& alertCustomMessage) override;
};
