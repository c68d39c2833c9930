#pragma once
// BTDisplayAlertAction: the stored action of its kind; what it does and its value codes are told
// in BTDisplayAlertActionProtocol.h. Owned by its store context; main thread only.

#include <cstdint>
#include <optional>
#include <string>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTDisplayAlertActionProtocol.h"
#include "core/Source/Model/BTModelKeys.h"

class BTDisplayAlertAction : public BTActionObject, public virtual BTDisplayAlertActionProtocol {
 public:
  std::int64_t alertSoundType() const override { return int64ForKey(BTModelKey::kAlertSoundType); }
  void setAlertSoundType(std::int64_t alertSoundType) override;
  std::optional<std::string> alertCustomMessage() const override {
    return stringForKey(BTModelKey::kAlertCustomMessage);
  }
  void setAlertCustomMessage(const std::optional<std::string>& alertCustomMessage) override;
};
