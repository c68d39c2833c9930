#include "platform/store/Slot.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tw::store {

namespace {
char* copyChars(const char* s, std::size_t n) {
  if (n == 0) return nullptr;
  char* p = static_cast<char*>(std::malloc(n));
  if (!p) throw std::bad_alloc();
  std::memcpy(p, s, n);
  return p;
}
}  // namespace

Slot::Slot(const Slot& other) : i_(0) { *this = other; }

Slot::Slot(Slot&& other) noexcept : kind_(other.kind_), length_(other.length_), i_(other.i_) {
  other.kind_ = Kind::Null;
  other.length_ = 0;
  other.i_ = 0;
}

Slot& Slot::operator=(const Slot& other) {
  if (this == &other) return *this;
  switch (other.kind_) {
    case Kind::String:
      setString(other.string());
      break;
    case Kind::Objects: {
      ObjectSet copy = *other.set_;
      objects() = std::move(copy);
      break;
    }
    default:
      clear();
      kind_ = other.kind_;
      length_ = other.length_;
      i_ = other.i_;
  }
  return *this;
}

Slot& Slot::operator=(Slot&& other) noexcept {
  if (this == &other) return *this;
  clear();
  kind_ = other.kind_;
  length_ = other.length_;
  i_ = other.i_;
  other.kind_ = Kind::Null;
  other.length_ = 0;
  other.i_ = 0;
  return *this;
}

void Slot::clear() {
  if (kind_ == Kind::String) std::free(s_);
  if (kind_ == Kind::Objects) delete set_;
  kind_ = Kind::Null;
  length_ = 0;
  i_ = 0;
}

void Slot::setBool(bool b) {
  clear();
  kind_ = Kind::Bool;
  b_ = b;
}

void Slot::setInt(std::int64_t i) {
  clear();
  kind_ = Kind::Int;
  i_ = i;
}

void Slot::setDouble(double d) {
  clear();
  kind_ = Kind::Double;
  d_ = d;
}

void Slot::setString(std::string_view s) {
  // Copy first: `s` may point into this very slot.
  char* p = copyChars(s.data(), s.size());
  clear();
  kind_ = Kind::String;
  length_ = static_cast<std::uint32_t>(s.size());
  s_ = p;
}

void Slot::setObject(ManagedObject* object) {
  clear();
  if (!object) return;
  kind_ = Kind::Object;
  o_ = object;
}

ObjectSet& Slot::objects() {
  if (kind_ != Kind::Objects) {
    auto* set = new ObjectSet();
    clear();
    kind_ = Kind::Objects;
    set_ = set;
  }
  return *set_;
}

bool Slot::operator==(const Slot& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::Null:
      return true;
    case Kind::Bool:
      return b_ == other.b_;
    case Kind::Int:
      return i_ == other.i_;
    case Kind::Double:
      // Identical bits (a NaN equals itself) or equal values (+0 equals -0).
      return std::bit_cast<std::uint64_t>(d_) == std::bit_cast<std::uint64_t>(other.d_) ||
             d_ == other.d_;
    case Kind::String:
      return string() == other.string();
    case Kind::Object:
      return o_ == other.o_;
    case Kind::Objects:
      return *set_ == *other.set_;
  }
  return false;
}

}  // namespace tw::store
