#pragma once
// BTAppOperationActionProtocol: launches or quits an application (the path of its
// bundle or desktop entry).
//   appOperationType: kAppOperationLaunch or kAppOperationQuit; other values do nothing.
// Adopted by the stored BTAppOperationAction and by the action builders; main thread only. See
// BTActionObjectProtocol.h for the naming and the rule on telling kinds apart.

#include <cstdint>
#include <optional>
#include <string>

#include "core/Source/Model/BTActionObjectProtocol.h"

class BTAppOperationActionProtocol : public virtual BTActionObjectProtocol {
 public:
  // Stored codes: kept as they are, since saved actions hold them.
  static constexpr std::int64_t kAppOperationLaunch = 1;
  static constexpr std::int64_t kAppOperationQuit = 2;

  virtual std::int64_t appOperationType() const = 0;
  virtual void setAppOperationType(std::int64_t appOperationType) = 0;
  virtual std::optional<std::string> appFilepathValue() const = 0;
  virtual void setAppFilepathValue(const std::optional<std::string>& appFilepathValue) = 0;
};
