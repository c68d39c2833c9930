#include "platform/foundation/Object.h"

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <typeindex>
#include <unordered_map>

#include <fmt/format.h>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/ObserverTable.h"
#include "platform/foundation/TypeName.h"
#include "platform/foundation/WeakPointer.h"

namespace tw {

namespace {

std::string splitFirst(std::string_view path, std::string_view& rest) {
  std::size_t dot = path.find('.');
  if (dot == std::string_view::npos) {
    rest = {};
    return std::string(path);
  }
  rest = path.substr(dot + 1);
  return std::string(path.substr(0, dot));
}

}  // namespace

namespace detail {

Value valueForKeyOfValue(const Value& value, std::string_view key) {
  switch (value.type()) {
    case Value::Type::Object:
      return value.object()->valueForKey(key);
    case Value::Type::Dictionary:
      return value[key];
    case Value::Type::Array: {
      Array out;
      out.reserve(value.count());
      for (const Value& element : *value.array()) out.push_back(valueForKeyOfValue(element, key));
      return Value(std::move(out));
    }
    default:
      return {};
  }
}

}  // namespace detail

// ----- Observation

Observation::Observation(Observation&& other) noexcept
    : path_(std::move(other.path_)), detached_(other.detached_) {}

Observation& Observation::operator=(Observation&& other) noexcept {
  if (this != &other) {
    if (!detached_) invalidate();
    path_ = std::move(other.path_);
    detached_ = other.detached_;
  }
  return *this;
}

Observation::~Observation() {
  if (!detached_) invalidate();
}

void Observation::invalidate() {
  if (auto path = std::move(path_)) detail::ObserverTable::invalidate(*path);
}

bool Observation::isActive() const { return path_ && detail::ObserverTable::isActive(*path_); }

void Observation::release() { path_.reset(); }

// ----- Object

Object::Object() = default;

Object::~Object() { detail::ObserverTable::objectDestroyed(*this); }

std::string Object::className() const { return demangledTypeName(typeid(*this)); }

std::string Object::description() const {
  return fmt::format("<{}: {}>", className(), static_cast<const void*>(this));
}

Value Object::valueForKey(std::string_view key) const {
  Value out;
  if (getValueForKey(key, out)) return out;
  raise(NSUnknownKeyException,
        fmt::format("[<{} {}> valueForUndefinedKey:]: this class is not key value "
                    "coding-compliant for the key {}.",
                    className(), static_cast<const void*>(this), key));
}

void ChangeScope::logEscapedException() const noexcept {
  try {
    std::string what = "unknown exception";
    try {
      throw;
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    log(LogLevel::Error, fmt::format("An observer of '{}' of {} threw while the change was "
                                     "announced: {}",
                                     key_, object_.className(), what));
  } catch (...) {
    // Out of memory while logging: the change bracket is closed all the same.
  }
}

void Object::setValueForKey(const Value& value, std::string_view key) {
  std::optional<ChangeScope> change;
  if (automaticallyNotifiesObserversForKey(key)) change.emplace(*this, key);
  if (!setValueForKeyImpl(key, value)) {
    if (change) change->cancel();
    raise(NSUnknownKeyException,
          fmt::format("[<{} {}> setValue:forUndefinedKey:]: this class is not key value "
                      "coding-compliant for the key {}.",
                      className(), static_cast<const void*>(this), key));
  }
}

Value Object::valueForKeyPath(std::string_view keyPath) const {
  std::string_view rest;
  std::string first = splitFirst(keyPath, rest);
  Value value = valueForKey(first);
  while (!rest.empty()) {
    if (value.isNull()) return value;
    std::string key = splitFirst(rest, rest);
    value = detail::valueForKeyOfValue(value, key);
  }
  return value;
}

void Object::setValueForKeyPath(const Value& value, std::string_view keyPath) {
  std::size_t dot = keyPath.rfind('.');
  if (dot == std::string_view::npos) return setValueForKey(value, keyPath);
  Value target = valueForKeyPath(keyPath.substr(0, dot));
  if (auto object = target.object()) object->setValueForKey(value, keyPath.substr(dot + 1));
}

Observation Object::observeScoped(std::string_view keyPath, unsigned options,
                                  ObservationCallback callback) {
  return Observation(
      detail::ObserverTable::observe(*this, keyPath, options, {}, nullptr, std::move(callback)),
      false);
}

Observation Object::observeDetached(std::string_view keyPath, unsigned options,
                                    std::weak_ptr<const void> observer,
                                    ObservationCallback callback) {
  // An observer that is already gone never hears anything; an empty one means "no observer".
  const bool empty = isEmptyWeak(observer);
  if (!empty && observer.expired()) return Observation();
  auto path = detail::ObserverTable::observe(*this, keyPath, options, std::move(observer), nullptr,
                                             std::move(callback));
  return Observation(std::move(path), !empty);
}

Observation Object::observeTied(std::string_view keyPath, unsigned options,
                                const std::shared_ptr<const Object>& observer,
                                ObservationCallback callback) {
  if (!observer) return Observation();
  return Observation(
      detail::ObserverTable::observe(*this, keyPath, options, std::weak_ptr<const void>(observer),
                                     observer.get(), std::move(callback)),
      true);
}

void Object::removeObserver(const std::shared_ptr<const void>& observer, std::string_view keyPath) {
  if (observer) detail::ObserverTable::removeObserver(*this, observer, keyPath);
}

std::size_t Object::observationCount() const {
  return detail::ObserverTable::observationCount(*this);
}

void Object::willChangeValueForKey(std::string_view key, SetMutationKind mutation,
                                   const Array& objects) {
  detail::SetMutation m{mutation, &objects};
  detail::ObserverTable::willChange(*this, key, &m);
}

void Object::didChangeValueForKey(std::string_view key, SetMutationKind mutation,
                                  const Array& objects) {
  detail::SetMutation m{mutation, &objects};
  detail::ObserverTable::didChange(*this, key, &m);
}

bool Object::getValueForKey(std::string_view key, Value& out) const {
  if (key == "self") {
    out = Value(std::const_pointer_cast<Object>(weak_from_this().lock()));
    return true;
  }
  if (key == "description") {
    out = Value(description());
    return true;
  }
  return false;
}

bool Object::setValueForKeyImpl(std::string_view, const Value&) { return false; }

std::vector<std::string> Object::keyPathsForValuesAffectingKey(std::string_view) const {
  return {};
}

bool Object::automaticallyNotifiesObserversForKey(std::string_view) const { return true; }

}  // namespace tw
