#include "core/Source/Library/BTViewTransition.h"

BTViewTransition::BTViewTransition(std::int64_t animation, std::int64_t direction, double duration)
    : animation_(animation), direction_(direction), duration_(duration) {}

std::shared_ptr<BTViewTransition> BTViewTransition::transitionWithAnimation(
    std::int64_t animation, std::int64_t direction) {
  return transitionWithAnimation(animation, direction, kDefaultDuration);
}

std::shared_ptr<BTViewTransition> BTViewTransition::transitionWithAnimation(std::int64_t animation,
                                                                            std::int64_t direction,
                                                                            double duration) {
  return std::make_shared<BTViewTransition>(animation, direction, duration);
}

bool BTViewTransition::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "animation") {
    out = animation_;
    return true;
  }
  if (key == "direction") {
    out = direction_;
    return true;
  }
  if (key == "duration") {
    out = duration_;
    return true;
  }
  return tw::Object::getValueForKey(key, out);
}
