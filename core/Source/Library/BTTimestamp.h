#pragma once
// An immutable point on the wall clock, in seconds since 1970. Any thread.

#include <memory>

#include "platform/foundation/Object.h"

class BTTimestamp : public tw::Object {
 public:
  explicit BTTimestamp(double value) : value_(value) {}
  static std::shared_ptr<BTTimestamp> now();
  static std::shared_ptr<BTTimestamp> timestampWithValue(double value);

  double value() const { return value_; }
  // Positive when the timestamp lies in the future.
  double timeIntervalSinceNow() const;

 protected:
  bool getValueForKey(std::string_view key, tw::Value& out) const override;

 private:
  const double value_;
};
