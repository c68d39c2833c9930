#pragma once
// tw::Expected<T>: the outcome of an operation that can fail on bad input or I/O without it
// being a programming error (parsing JSON or a property list, reading or replacing a file): the
// value, or a message saying why there is none. Readers never throw; they return one of these.
// Plain value type; safe to hand between threads.

#include <string>
#include <utility>

namespace tw {

template <class T>
class Expected {
 public:
  Expected(T value) : value_(std::move(value)), ok_(true) {}
  static Expected failure(std::string why) {
    Expected e;
    e.error_ = why.empty() ? std::string("unknown error") : std::move(why);
    return e;
  }

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  // On failure: a default-constructed T (a null Value, an empty string), never garbage.
  const T& value() const& { return value_; }
  T&& value() && { return std::move(value_); }
  const T& operator*() const& { return value_; }
  const T* operator->() const { return &value_; }
  // Empty on success.
  const std::string& error() const { return error_; }

 private:
  Expected() = default;
  T value_{};
  std::string error_;
  bool ok_ = false;
};

// An operation with no result beyond success (writing a file).
template <>
class Expected<void> {
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
