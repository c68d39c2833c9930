#pragma once
// BTStoredValueClamp: brings a stored number that the model cannot show (a time field beyond 16
// bits, a duration longer than the time record holds, a NaN) into range as it is read, so that
// every reader (the value in seconds, the list's text, the display) sees the same number, and
// logs what it changed once per object and key. Nothing is written back: the store keeps what it
// holds until the user changes it.
// Static functions; any thread (the log's bookkeeping sits behind a mutex).

#include <cstdint>
#include <string_view>

#include "platform/store/ManagedObject.h"

class BTStoredValueClamp {
 public:
  BTStoredValueClamp() = delete;

  // `raw` held within [low, high].
  static std::int64_t field(const tw::store::ManagedObject& object, std::string_view key,
                            std::int64_t raw, std::int64_t low, std::int64_t high);
  // A signed duration within what the time record holds; NaN reads as 0.
  static double seconds(const tw::store::ManagedObject& object, std::string_view key, double raw);
};
