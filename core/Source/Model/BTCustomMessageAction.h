#pragma once
// BTCustomMessageAction: the stored action of its kind; what it does and its value codes are told
// in BTCustomMessageActionProtocol.h. Owned by its store context; main thread only.

#include <cstdint>
#include <optional>
#include <string>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTCustomMessageActionProtocol.h"
#include "core/Source/Model/BTModelKeys.h"

class BTCustomMessageAction : public BTActionObject, public virtual BTCustomMessageActionProtocol {
 public:
  std::int64_t customMessageMode() const override {
    return int64ForKey(BTModelKey::kCustomMessageMode);
  }
  void setCustomMessageMode(std::int64_t customMessageMode) override;
  std::optional<std::string> customMessageValue() const override {
    return stringForKey(BTModelKey::kCustomMessageValue);
  }
  void setCustomMessageValue(const std::optional<std::string>& customMessageValue) override;
};
