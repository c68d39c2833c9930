#pragma once
// BTDisplayAlertActionProtocol: an alert with a chosen sound and an optional message.
//   alertSoundType: -1 no sound, 0 the default notification sound, 1 Note, 2 Alarm, 3 Buzzer.
// Adopted by the stored BTDisplayAlertAction and by the action builders; main thread only. See
// BTActionObjectProtocol.h for the naming and the rule on telling kinds apart.

#include <cstdint>
#include <optional>
#include <string>

#include "core/Source/Model/BTActionObjectProtocol.h"

class BTDisplayAlertActionProtocol : public virtual BTActionObjectProtocol {
 public:
  virtual std::int64_t alertSoundType() const = 0;
  virtual void setAlertSoundType(std::int64_t alertSoundType) = 0;
  virtual std::optional<std::string> alertCustomMessage() const = 0;
  virtual void setAlertCustomMessage(const std::optional<std::string>& alertCustomMessage) = 0;
};
