#pragma once
// tw::ProcessActivities: the process-information service's activities. An activity, begun with
// a bit set of options and a reason, keeps the machine (and, on request, the display) from
// falling asleep until it is ended. The options use the values of the activity options the
// application's settings speak of; only the two sleep bits have an effect here.
//
// tw::SleepInhibitor is the implementation over the desktop's services; tests give their own.
// Owned by whoever holds it (the application keeps the shared one for the process's life);
// begin and end are callable from any thread and never block.

#include <cstdint>
#include <memory>
#include <string>

namespace tw {

// Idle system sleep is disabled while the activity runs.
inline constexpr std::uint64_t kActivityIdleSystemSleepDisabled = 1ull << 20;
// Idle display sleep is disabled while the activity runs.
inline constexpr std::uint64_t kActivityIdleDisplaySleepDisabled = 1ull << 40;

class ProcessActivities {
 public:
  // What beginActivity returns; the activity lasts until endActivity is called with it (or the
  // service goes away).
  class Activity {
   public:
    virtual ~Activity() = default;
  };
  using Token = std::shared_ptr<Activity>;

  virtual ~ProcessActivities() = default;
  virtual Token beginActivity(std::uint64_t options, const std::string& reason) = 0;
  virtual void endActivity(const Token& token) = 0;

  // The process's service over the desktop's services (a SleepInhibitor), made on first use
  // and kept until the process ends.
  static std::shared_ptr<ProcessActivities> shared();
};

}  // namespace tw
