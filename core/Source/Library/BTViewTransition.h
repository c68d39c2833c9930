#pragma once
// BTViewTransition: how a content change is animated: `animation` (bit set: 1 fade, 2 slide),
// `direction` (1 to 4 slide the content; other values leave it in place) and `duration` in
// seconds. Chosen by the master list, carried out by the application's detail view. Immutable:
// safe to share between threads.

#include <cstdint>
#include <memory>

#include "platform/foundation/Object.h"

class BTViewTransition : public tw::Object {
 public:
  static constexpr double kDefaultDuration = 0.4;

  BTViewTransition(std::int64_t animation, std::int64_t direction, double duration);

  // Duration 0.4 s.
  static std::shared_ptr<BTViewTransition> transitionWithAnimation(std::int64_t animation,
                                                                   std::int64_t direction);
  static std::shared_ptr<BTViewTransition> transitionWithAnimation(std::int64_t animation,
                                                                   std::int64_t direction,
                                                                   double duration);

  std::int64_t animation() const { return animation_; }
  std::int64_t direction() const { return direction_; }
  double duration() const { return duration_; }

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;

 private:
  const std::int64_t animation_;
  const std::int64_t direction_;
  const double duration_;
};
