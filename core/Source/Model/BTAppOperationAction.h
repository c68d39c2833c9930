#pragma once
// BTAppOperationAction: the stored action of its kind; what it does and its value codes are told
// in BTAppOperationActionProtocol.h. Owned by its store context; main thread only.

#include <cstdint>
#include <optional>
#include <string>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTAppOperationActionProtocol.h"
#include "core/Source/Model/BTModelKeys.h"

class BTAppOperationAction : public BTActionObject, public virtual BTAppOperationActionProtocol {
 public:
  std::int64_t appOperationType() const override {
    return int64ForKey(BTModelKey::kAppOperationType);
  }
  void setAppOperationType(std::int64_t appOperationType) override;
  std::optional<std::string> appFilepathValue() const override {
    return stringForKey(BTModelKey::kAppFilepathValue);
  }
  void setAppFilepathValue(const std::optional<std::string>& appFilepathValue) override;
};
