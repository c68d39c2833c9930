#pragma once
// BTFileOperationAction: the stored action of its kind; what it does and its value codes are told
// in BTFileOperationActionProtocol.h. Owned by its store context; main thread only.

#include <optional>
#include <string>

#include "core/Source/Model/BTActionObject.h"
#include "core/Source/Model/BTFileOperationActionProtocol.h"
#include "core/Source/Model/BTModelKeys.h"

class BTFileOperationAction : public BTActionObject, public virtual BTFileOperationActionProtocol {
 public:
  std::optional<std::string> fileFilepathValue() const override {
    return stringForKey(BTModelKey::kFileFilepathValue);
  }
  void setFileFilepathValue(const std::optional<std::string>& fileFilepathValue) override;
};
