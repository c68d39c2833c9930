#pragma once
// BTTimer: counts a set duration down to 0. While reset it shows its full duration: the timer
// watches its own time setting from the moment it is made or loaded and copies the setting's
// seconds into timingValue whenever the setting changes and the timer is reset (state 0). In
// any other state the control owns timingValue.
// Owned by its store context; main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Source/Model/BTModelKeys.h"
#include "core/Source/Model/BTSettableTimeObject.h"
#include "platform/foundation/Object.h"

class BTTimer : public BTSettableTimeObject {
 public:
  // When the running timer reaches 0; nil when reset.
  std::optional<tw::Date> finishDate() const { return dateForKey(BTModelKey::kFinishDate); }
  void setFinishDate(const std::optional<tw::Date>& finishDate);
  // When it was paused; nil otherwise.
  std::optional<tw::Date> pauseDate() const { return dateForKey(BTModelKey::kPauseDate); }
  void setPauseDate(const std::optional<tw::Date>& pauseDate);

  // Now plus the set duration.
  tw::Date computedFinishDate() const override;
  std::optional<tw::Date> actualFinishDate() const override { return finishDate(); }

  // Starts (again) watching the time setting, ending an earlier watch. Runs on insert and on
  // every load.
  void initialize();

 protected:
  void awakeFromInsert() override;
  void awakeFromFetch() override;
  std::vector<std::string> keyPathsForValuesAffectingKey(std::string_view key) const override;

 private:
  // A plain observation rather than a signal: every loaded timer holds one, and the signal's
  // subscriber, disposer and deallocation watch would cost more than the watch itself.
  tw::Observation timeObservation_;
};
