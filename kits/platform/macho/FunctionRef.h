#pragma once
// tw::FunctionRef: a non-owning reference to a callable, for the Mach-O walkers' blocks. Unlike
// std::function it never allocates, so the walkers stay usable while the process is crashing.
// The referenced callable must outlive the call it is passed to; any thread.

#include <memory>
#include <type_traits>
#include <utility>

namespace tw {

template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
 public:
  FunctionRef() = default;
  FunctionRef(std::nullptr_t) {}  // NOLINT(google-explicit-constructor)
  // Implicit, like std::function. The requires-clause keeps FunctionRef itself out, so the copy
  // and move constructors stay in charge; clang-tidy 14 does not read requires-clauses.
  // NOLINTBEGIN(google-explicit-constructor,bugprone-forwarding-reference-overload)
  template <class F>
  requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> &&
           std::is_invocable_r_v<R, F&, Args...>) FunctionRef(F&& f)
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        call_([](void* object, Args... args) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<Args>(args)...);
        }) {}
  // NOLINTEND(google-explicit-constructor,bugprone-forwarding-reference-overload)

  explicit operator bool() const { return call_ != nullptr; }
  R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

 private:
  void* object_ = nullptr;
  R (*call_)(void*, Args...) = nullptr;
};

}  // namespace tw
