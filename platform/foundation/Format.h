#pragma once
// The platform's printf-style formats: %@ (any value; objects by their description), %d %i %ld
// %lld %u %lu %llu %x %lx, width/zero flags (%02ld), %f %lf %.2f %g %e, %s (C string), %c and %%,
// plus positional %1$@. Arguments are converted to tw::Value first, so a mismatch between a
// conversion and its argument coerces (integerValue, doubleValue, description) rather than
// reading garbage. A missing argument renders as empty. Thread-safe, no state.

#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace tw {

std::string formatValues(std::string_view format, const std::vector<Value>& args);

template <class... Args>
std::string format(std::string_view fmt, const Args&... args) {
  return formatValues(fmt, std::vector<Value>{Value(args)...});
}

}  // namespace tw
