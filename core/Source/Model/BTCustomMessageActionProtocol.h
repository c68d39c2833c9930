#pragma once
// BTCustomMessageActionProtocol: a message displayed and/or spoken.
//   customMessageMode: a bit set, 1 display in an alert, 2 speak, 3 both.
// Adopted by the stored BTCustomMessageAction and by the action builders; main thread only. See
// BTActionObjectProtocol.h for the naming and the rule on telling kinds apart.

#include <cstdint>
#include <optional>
#include <string>

#include "core/Source/Model/BTActionObjectProtocol.h"

class BTCustomMessageActionProtocol : public virtual BTActionObjectProtocol {
 public:
  virtual std::int64_t customMessageMode() const = 0;
  virtual void setCustomMessageMode(std::int64_t customMessageMode) = 0;
  virtual std::optional<std::string> customMessageValue() const = 0;
  virtual void setCustomMessageValue(const std::optional<std::string>& customMessageValue) = 0;
};
