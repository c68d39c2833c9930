#include "core/Source/Library/BTTimestamp.h"

#include "platform/foundation/Clock.h"

std::shared_ptr<BTTimestamp> BTTimestamp::now() {
  return std::make_shared<BTTimestamp>(tw::clock::wallNow());
}

std::shared_ptr<BTTimestamp> BTTimestamp::timestampWithValue(double value) {
  return std::make_shared<BTTimestamp>(value);
}

double BTTimestamp::timeIntervalSinceNow() const { return value_ - tw::clock::wallNow(); }

bool BTTimestamp::getValueForKey(std::string_view key, tw::Value& out) const {
  if (key == "value") {
    out = value_;
    return true;
  }
  return tw::Object::getValueForKey(key, out);
}
