#pragma once
// BTAppOperationActionProtocol: launches or quits an application (the path of its
// bundle or desktop entry).
//   appOperationType: 1 launch, 2 quit.
// Adopted by the stored BTAppOperationAction and by the action builders; main thread only. See
// BTActionObjectProtocol.h for the naming and the rule on telling kinds apart.

#include <cstdint>
#include <optional>
#include <string>

#include "core/Source/Model/BTActionObjectProtocol.h"

class BTAppOperationActionProtocol : public virtual BTActionObjectProtocol {
 public:
  virtual std::int64_t appOperationType() const = 0;
  virtual void setAppOperationType(std::int64_t appOperationType) = 0;
  virtual std::optional<std::string> appFilepathValue() const = 0;
  virtual void setAppFilepathValue(const std::optional<std::string>& appFilepathValue) = 0;
};
