#pragma once
// tw::Expected<T>: the outcome of an operation that can fail on bad input or I/O without it
// being a programming error (parsing JSON or a property list, reading or replacing a file): the
// value, or a message saying why there is none. Readers never throw; they return one of these.
// Plain value type; safe to hand between threads. Never dropped unread: a failure left unlooked-at
// is a failure the user never hears of.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace tw {

namespace detail {
// Reading the value of a failure is a programming error: the caller skipped ok(). Debug and
// sanitizer builds stop there, saying why the operation failed; release builds read T{}.
[[noreturn]] inline void readValueOfFailure(const std::string& why) {
  std::fprintf(stderr, "tw::Expected: value read from a failure (%s)\n", why.c_str());
  std::abort();
}
}  // namespace detail

template <class T>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : value_(std::move(value)), ok_(true) {}
  static Expected failure(std::string why) {
    Expected e;
    e.error_ = why.empty() ? std::string("unknown error") : std::move(why);
    return e;
  }

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  // Only after ok(). On failure a debug build stops; a release build gives a default-constructed
  // T (a null Value, an empty string), never garbage.
  const T& value() const& { return checked(), value_; }
  T&& value() && { return checked(), std::move(value_); }
  const T& operator*() const& { return checked(), value_; }
  const T* operator->() const { return checked(), &value_; }
  // Empty on success.
  const std::string& error() const { return error_; }

 private:
  Expected() = default;
  void checked() const {
#ifndef NDEBUG
    if (!ok_) detail::readValueOfFailure(error_);
#endif
  }
  T value_{};
  std::string error_;
  bool ok_ = false;
};

// An operation with no result beyond success (writing a file).
template <>
class [[nodiscard]] Expected<void> {
 public:
  static Expected success() {
    Expected e;
    e.ok_ = true;
    return e;
  }
  static Expected failure(std::string why) {
    Expected e;
    e.error_ = why.empty() ? std::string("unknown error") : std::move(why);
    return e;
  }
  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const std::string& error() const { return error_; }

 private:
  Expected() = default;
  std::string error_;
  bool ok_ = false;
};

using Status = Expected<void>;

}  // namespace tw
