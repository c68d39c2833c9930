#pragma once
// tw::Value: the one dynamic value type of the system (dictionary, array, number, string, date,
// data or null: everything stored preferences, property lists, JSON and key-value coding
// exchange), plus a reference to a tw::Object so that key-value coding can walk through objects.
// Values are immutable once built and safe to copy between threads; the objects they point to keep
// their own threading rules.

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace tw {

class Object;
class Value;

using Data = std::vector<std::uint8_t>;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value, std::less<>>;

// A point in time: seconds since 1970-01-01 00:00 UTC, as a double, so a moment keeps its
// fraction of a second.
struct Date {
  double secondsSince1970 = 0;
  friend bool operator==(const Date&, const Date&) = default;
  // NOLINTNEXTLINE(modernize-use-nullptr): clang-tidy 14 flags the 0 of the defaulted <=> itself
  friend auto operator<=>(const Date&, const Date&) = default;
};

class Value {
 public:
  enum class Type { Null, Bool, Int, UInt, Double, String, Data, Date, Array, Dictionary, Object };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(int i) : v_(std::int64_t{i}) {}
  Value(long i) : v_(std::int64_t{i}) {}
  Value(long long i) : v_(std::int64_t{i}) {}
  Value(unsigned u) : v_(std::int64_t{u}) {}
  Value(unsigned long u) : v_(std::uint64_t{u}) {}
  Value(unsigned long long u) : v_(std::uint64_t{u}) {}
  Value(double d) : v_(d) {}
  Value(float f) : v_(double{f}) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  // A null C string is a null value (a nil string), never undefined behaviour.
  Value(const char* s) {
    if (s) v_ = std::string(s);
  }
  Value(char* s) : Value(static_cast<const char*>(s)) {}
  // Any other pointer would become a boolean; an object goes in by shared_ptr.
  template <class T>
  requires(!std::is_same_v<std::remove_cv_t<T>, char>) Value(T*)
  = delete;
  Value(tw::Data d) : v_(std::make_shared<const tw::Data>(std::move(d))) {}
  Value(tw::Date d) : v_(d) {}
  Value(tw::Array a) : v_(std::make_shared<const tw::Array>(std::move(a))) {}
  Value(tw::Dictionary d) : v_(std::make_shared<const tw::Dictionary>(std::move(d))) {}
  Value(std::shared_ptr<Object> o) {
    if (o) v_ = std::move(o);
  }
  template <class T>
  requires std::is_base_of_v<Object, T> Value(std::shared_ptr<T> o)
      : Value(std::static_pointer_cast<Object>(std::move(o))) {}

  Type type() const { return static_cast<Type>(v_.index()); }
  bool isNull() const { return type() == Type::Null; }
  bool isNumber() const {
    auto t = type();
    return t == Type::Int || t == Type::UInt || t == Type::Double;
  }
  // Booleans count as numbers for coercion but keep their own type.
  bool isBool() const { return type() == Type::Bool; }
  bool isString() const { return type() == Type::String; }

  // Coercions: numbers and booleans convert freely; strings are read from their leading number or
  // word, so stored text written by hand still counts ("12abc" -> 12, "YES"/"true" -> true);
  // anything else is 0.
  bool boolValue() const;
  std::int64_t integerValue() const;
  std::uint64_t unsignedValue() const;
  double doubleValue() const;
  // Text form: the string itself, numbers in their shortest form, null as "(null)", objects by
  // their description, collections in a readable form.
  std::string description() const;

  // Typed access: nullptr when the value holds another type.
  const std::string* string() const { return std::get_if<std::string>(&v_); }
  const tw::Data* data() const;
  const tw::Date* date() const { return std::get_if<tw::Date>(&v_); }
  const tw::Array* array() const;
  const tw::Dictionary* dictionary() const;
  std::shared_ptr<Object> object() const;
  template <class T>
  std::shared_ptr<T> objectAs() const {
    return std::dynamic_pointer_cast<T>(object());
  }
  std::optional<bool> boolIfBool() const;
  std::optional<std::int64_t> intIfInt() const;
  std::optional<std::uint64_t> uintIfUInt() const;
  std::optional<double> doubleIfDouble() const;

  // Dictionary lookup; a null value when this is not a dictionary or the key is absent.
  const Value& operator[](std::string_view key) const;
  // Array element; a null value when out of range or not an array.
  const Value& at(std::size_t index) const;
  std::size_t count() const;

  // Equality in the sense of isEqual: numbers compare by value across Int/UInt/Double (but a
  // boolean never equals a number), collections element-wise, objects by identity.
  friend bool operator==(const Value& a, const Value& b);

  static const Value& null();

  // The description, quoted for strings; lets test frameworks print values.
  friend std::ostream& operator<<(std::ostream& os, const Value& v);

 private:
  std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string,
               std::shared_ptr<const tw::Data>, tw::Date, std::shared_ptr<const tw::Array>,
               std::shared_ptr<const tw::Dictionary>, std::shared_ptr<Object>>
      v_;
};

}  // namespace tw
