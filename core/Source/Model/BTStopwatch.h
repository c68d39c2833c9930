#pragma once
// BTStopwatch: counts up from its start. startDate is the effective start, moved forward by the
// time spent paused, so elapsed time is always now (or the pause) minus startDate.
// Owned by its store context; main thread only.

#include <optional>

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTTimeObject.h"

class BTStopwatch : public BTTimeObject {
 public:
  std::optional<tw::Date> startDate() const { return dateForKey(BTModelKey::kStartDate); }
  void setStartDate(const std::optional<tw::Date>& startDate);
  std::optional<tw::Date> pauseDate() const { return dateForKey(BTModelKey::kPauseDate); }
  void setPauseDate(const std::optional<tw::Date>& pauseDate);
};
