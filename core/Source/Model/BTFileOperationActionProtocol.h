#pragma once
// BTFileOperationActionProtocol: opens a file (a path).
// Adopted by the stored BTFileOperationAction and by the action builders; main thread only. See
// BTActionObjectProtocol.h for the naming and the rule on telling kinds apart.

#include <optional>
#include <string>

#include "core/Source/Model/BTActionObjectProtocol.h"

class BTFileOperationActionProtocol : public virtual BTActionObjectProtocol {
 public:
  virtual std::optional<std::string> fileFilepathValue() const = 0;
  virtual void setFileFilepathValue(const std::optional<std::string>& fileFilepathValue) = 0;
};
