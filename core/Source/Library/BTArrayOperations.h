#pragma once
// Index-safe operations on arrays (std::vector<T>, including tw::Array), with the conventions the
// stored sort orders and the view models share: signed 64-bit indexes and 0x7FFFFFFFFFFFFFFF as
// "not found". Element types that can be null (smart and plain pointers, tw::Value) treat null as
// "no object"; for other types byt_objectAtIndex answers with std::optional. Header-only templates;
// thread rules are the vector's own.

#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"

// The platform's not-found index.
inline constexpr std::int64_t BTNotFound = 0x7FFFFFFFFFFFFFFF;

namespace tw::detail {
template <class T>
concept NullableElement = requires(const T& v) {
  { v == nullptr } -> std::convertible_to<bool>;
};
template <class T>
using ArrayElementResult = std::conditional_t<NullableElement<T>, T, std::optional<T>>;
}  // namespace tw::detail

// True for a negative index or the not-found index.
constexpr bool byt_isIndexNotFound(std::int64_t index) { return index < 0 || index == BTNotFound; }

// True when 0 <= index < count.
template <class T, class A>
bool byt_isIndexValid(const std::vector<T, A>& array, std::int64_t index) {
  return index >= 0 && static_cast<std::uint64_t>(index) < array.size();
}

// The index of the first element equal to `object`; the not-found index when absent or when the
// object is null.
template <class T, class A>
std::int64_t byt_indexOfObject(const std::vector<T, A>& array, const T& object) {
  if constexpr (tw::detail::NullableElement<T>) {
    if (object == nullptr) return BTNotFound;
  }
  for (std::size_t i = 0; i < array.size(); ++i)
    if (array[i] == object) return static_cast<std::int64_t>(i);
  return BTNotFound;
}

// The element at a valid index, else null (or an empty optional).
template <class T, class A>
tw::detail::ArrayElementResult<T> byt_objectAtIndex(const std::vector<T, A>& array,
                                                    std::int64_t index) {
  if (!byt_isIndexValid(array, index)) return tw::detail::ArrayElementResult<T>{};
  return array[static_cast<std::size_t>(index)];
}

// Moves the element at `from` to `to` (both indexes of the array as it is). Equal indexes change
// nothing and give false; otherwise true. An invalid index raises NSRangeException and leaves the
// array unchanged.
template <class T, class A>
bool byt_translateObjectFromIndex(std::vector<T, A>& array, std::int64_t from, std::int64_t to) {
  for (std::int64_t index : {from, to}) {
    if (!byt_isIndexValid(array, index))
      tw::raise(
          tw::NSRangeException,
          tw::format("*** -[NSMutableArray byt_translateObjectFromIndex:toIndex:]: index "
                     "%lld beyond bounds [0 .. %lld]",
                     static_cast<long long>(index), static_cast<long long>(array.size()) - 1));
  }
  if (from == to) return false;
  T object = std::move(array[static_cast<std::size_t>(from)]);
  array.erase(array.begin() + from);
  array.insert(array.begin() + to, std::move(object));
  return true;
}
