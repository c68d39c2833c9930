#pragma once
// Ownership tests on weak pointers that expired() cannot answer: whether a weak pointer was ever
// bound to an owner, and whether two pointers share one. Header only; any thread.

#include <memory>

namespace tw {

// True for a weak pointer that never had an owner (default-constructed, or made from an empty
// shared pointer); false for one whose owner lives or has died.
template <class T>
bool isEmptyWeak(const std::weak_ptr<T>& w) {
  const std::weak_ptr<T> none;
  return !w.owner_before(none) && !none.owner_before(w);
}

// True when `a` and `b` (shared or weak pointers) share one owner, even after it died.
template <class A, class B>
bool sameOwner(const A& a, const B& b) {
  return !a.owner_before(b) && !b.owner_before(a);
}

}  // namespace tw
