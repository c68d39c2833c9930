#pragma once
// Small conversions the entity classes use to hand typed values to the generic key-value
// setters of tw::store::ManagedObject: an absent string or date becomes a null value (nil), and
// 64-bit integers go in as exactly that. Header-only, no state; any thread.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace tw {

inline Value modelValue(const std::optional<std::string>& s) { return s ? Value(*s) : Value(); }
inline Value modelValue(const std::optional<Date>& d) { return d ? Value(*d) : Value(); }
inline Value modelInt(std::int64_t i) { return Value(static_cast<long long>(i)); }

}  // namespace tw
