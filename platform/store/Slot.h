#pragma once
// tw::store::Slot: one property value of a managed object, packed into 16 bytes so that tens of
// thousands of loaded rows stay small. Holds null, a boolean, a 64-bit integer, a double (also
// dates), a string, a to-one partner or the partner set of a to-many relationship. Which of
// these a slot may hold is fixed by its property; the slot itself only knows what it holds now.
// Internal to the store; owned by its managed object; main thread only, like the object.

#include <cstdint>
#include <string_view>
#include <vector>

namespace tw::store {

class ManagedObject;
using ObjectSet = std::vector<ManagedObject*>;

class Slot {
 public:
  enum class Kind : std::uint8_t { Null, Bool, Int, Double, String, Object, Objects };

  Slot() : i_(0) {}
  Slot(const Slot& other);
  Slot(Slot&& other) noexcept;
  Slot& operator=(const Slot& other);
  Slot& operator=(Slot&& other) noexcept;
  ~Slot() { clear(); }

  Kind kind() const { return kind_; }
  bool isNull() const { return kind_ == Kind::Null; }

  void clear();
  void setBool(bool b);
  void setInt(std::int64_t i);
  void setDouble(double d);
  void setString(std::string_view s);
  // nullptr clears the slot.
  void setObject(ManagedObject* object);

  bool boolValue() const { return kind_ == Kind::Bool ? b_ : kind_ == Kind::Int ? i_ != 0 : false; }
  std::int64_t intValue() const { return kind_ == Kind::Int ? i_ : kind_ == Kind::Bool ? b_ : 0; }
  double doubleValue() const { return kind_ == Kind::Double ? d_ : 0.0; }
  std::string_view string() const {
    return kind_ == Kind::String ? std::string_view(s_, length_) : std::string_view();
  }
  ManagedObject* object() const { return kind_ == Kind::Object ? o_ : nullptr; }

  // The partner set of a to-many slot; objects() makes an empty one on first use.
  ObjectSet& objects();
  const ObjectSet* objectsIfAny() const { return kind_ == Kind::Objects ? set_ : nullptr; }

  // Same kind and same content; strings byte for byte, doubles bit for bit (so a NaN that was
  // read back counts as unchanged), partners by identity.
  bool operator==(const Slot& other) const;

 private:
  Kind kind_ = Kind::Null;
  std::uint32_t length_ = 0;
  union {
    bool b_;
    std::int64_t i_;
    double d_;
    char* s_;
    ManagedObject* o_;
    ObjectSet* set_;
  };
};

}  // namespace tw::store
