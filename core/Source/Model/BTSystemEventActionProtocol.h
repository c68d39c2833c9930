#pragma once
// BTSystemEventActionProtocol: puts the machine to sleep, logs out, restarts or
// shuts down.
//   systemEventType: 1 sleep, 2 log out, 3 restart, 4 shut down.
// Adopted by the stored BTSystemEventAction and by the action builders; main thread only. See
// BTActionObjectProtocol.h for the naming and the rule on telling kinds apart.

#include <cstdint>

#include "core/Source/Model/BTActionObjectProtocol.h"

class BTSystemEventActionProtocol : public virtual BTActionObjectProtocol {
 public:
  virtual std::int64_t systemEventType() const = 0;
  virtual void setSystemEventType(std::int64_t systemEventType) = 0;
};
