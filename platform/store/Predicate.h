#pragma once
// tw::store::Predicate: a condition on objects written as text with format arguments, used to
// filter fetches. Understands comparisons (==, =, !=, <>, <, <=, >, >=), AND / &&, OR / ||,
// NOT / !, parentheses, TRUEPREDICATE / FALSEPREDICATE, key paths ("timingState",
// "actionObject.timeObject"), nil / NULL, YES / NO / TRUE / FALSE, numbers, quoted strings and
// the arguments %@ (a value), %K (a key path), %d %i %ld %lld %u %lu %f.
//
//   Predicate::format("%K != %@", "timingState", 0)
//   Predicate::parse("timeObject == nil")
//
// Comparisons follow tw::Value: numbers and booleans compare by value, strings byte for
// byte, dates by time, objects by identity; nil equals only nil and is never ordered.
// A malformed format, or one nesting parentheses and NOTs more than 100 levels deep, raises
// NSInvalidArgumentException; chains of AND / OR may be of any length. Immutable once made: any
// thread may evaluate one, on objects that thread may read.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace tw {
class Object;
}

namespace tw::store {

class Predicate {
 public:
  // The empty predicate matches everything.
  Predicate() = default;

  static Predicate parse(std::string_view format, const std::vector<Value>& arguments = {});
  template <class... Args>
  static Predicate format(std::string_view format, const Args&... args) {
    return parse(format, std::vector<Value>{Value(args)...});
  }

  bool isEmpty() const { return root_ == nullptr; }
  bool evaluate(const Object& object) const;
  // The predicate written out again, arguments filled in.
  std::string description() const;

  // The ordering comparisons use: numbers and booleans by value, strings byte for byte, dates
  // by time; nullopt when the two cannot be ordered (nil, objects, mixed kinds).
  static std::optional<int> compareValues(const Value& a, const Value& b);
  // Equality as == uses it: numbers and booleans by value, nil equal only to nil, the rest as
  // tw::Value compares them.
  static bool equalValues(const Value& a, const Value& b);

  struct Node;

 private:
  std::shared_ptr<const Node> root_;
};

}  // namespace tw::store
