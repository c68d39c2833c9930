#pragma once
// tw::Protocol: a runtime descriptor of a protocol (an abstract interface class): its name, the
// protocols it adopts, the names of its methods, and how to tell whether an object implements it.
// Descriptors are made once per protocol class and registered by name, so code can ask "does this
// object conform to BTDisplayAlertAction?" of real objects and of proxies alike.
//
// Declaring a protocol (in its own header, after the class):
//
//   class BTUpdateable { ... };
//   TW_PROTOCOL(BTUpdateable, {&tw::rootProtocol()}, {"update", "updateRate"})
//
// The second argument lists the adopted protocols (give tw::rootProtocol(), the "NSObject"
// protocol, where the protocol adopts it); then the required method names; optionally the
// optional ones. Property names count as getter methods; a settable property also lists its
// setter as "setTitle:". A protocol class that adopts another derives from it virtually
// (`class BTDisplayAlertAction : public virtual BTActionObject`), so that one object (a builder)
// can implement several protocols sharing a base and still be cast to that base.
//
// Telling kinds apart: tw::conformsTo<P>(object), tw::interfaceOf<P>(object) and
// tw::kindOf<P>(object) answer for a
// plain object by dynamic_cast and for a proxy (a tw::ProtocolConformer, such as BTProxy) by
// what the proxy exposes. Never ask for a concrete class: a builder or a proxy must be able to
// stand in for a stored object.
//
// Thread-safe: descriptors are immutable once made; the registry is locked.

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Object.h"

namespace tw {

class Protocol {
 public:
  Protocol(const Protocol&) = delete;
  Protocol& operator=(const Protocol&) = delete;

  // The registered descriptor of that name, or nullptr.
  static const Protocol* named(std::string_view name);

  // Makes and registers the descriptor of protocol class P (once; TW_PROTOCOL calls it).
  // Registering a second descriptor under a name already taken raises
  // NSInternalInconsistencyException.
  template <class P>
  static const Protocol& define(const std::string& name,
                                std::initializer_list<const Protocol*> adopted,
                                const std::vector<std::string>& required,
                                const std::vector<std::string>& optional = {}) {
    return registerNew(name, adopted, required, optional, [](const Object& object) {
      return dynamic_cast<const P*>(&object) != nullptr;
    });
  }

  const std::string& name() const { return name_; }
  const std::vector<const Protocol*>& adoptedProtocols() const { return adopted_; }
  const std::vector<std::string>& requiredMethods() const { return required_; }
  const std::vector<std::string>& optionalMethods() const { return optional_; }

  // True for this protocol and for every protocol it adopts, directly or through others.
  bool includes(const Protocol& other) const;
  // The method names of this protocol (required, then optional), then those of each adopted
  // protocol in turn, recursively; each name once.
  std::vector<std::string> allMethodNames() const;
  // Whether the object itself implements the protocol's class (no proxy rules; see conformsTo).
  bool isImplementedBy(const Object& object) const { return implementedBy_(object); }

 private:
  using Check = bool (*)(const Object&);
  Protocol(std::string name, std::vector<const Protocol*> adopted,
           std::vector<std::string> required, std::vector<std::string> optional, Check check);
  static const Protocol& registerNew(std::string name,
                                     std::initializer_list<const Protocol*> adopted,
                                     std::vector<std::string> required,
                                     std::vector<std::string> optional, Check check);
  friend const Protocol& rootProtocol();

  std::string name_;
  std::vector<const Protocol*> adopted_;
  std::vector<std::string> required_;
  std::vector<std::string> optional_;
  Check implementedBy_;
};

// The root protocol "NSObject", which every tw::Object implements.
const Protocol& rootProtocol();

// The descriptor of protocol class P; specialised by TW_PROTOCOL.
template <class P>
const Protocol& protocolOf();

// An object that answers conformance itself rather than by its C++ type: a proxy.
class ProtocolConformer {
 public:
  virtual ~ProtocolConformer() = default;
  virtual bool conformsTo(const Protocol& protocol) const = 0;
  // The object that implements `protocol` on this one's behalf, or nullptr when it does not
  // conform.
  virtual std::shared_ptr<Object> implementerOf(const Protocol& protocol) const = 0;
};

// conformsToProtocol: for any object; false for nullptr.
bool conformsTo(const Object* object, const Protocol& protocol);
template <class P>
bool conformsTo(const Object* object) {
  return conformsTo(object, protocolOf<P>());
}
template <class T>
bool conformsTo(const std::shared_ptr<T>& object, const Protocol& protocol) {
  return conformsTo(dynamic_cast<const Object*>(object.get()), protocol);
}
template <class P, class T>
bool conformsTo(const std::shared_ptr<T>& object) {
  return conformsTo(object, protocolOf<P>());
}

// The object's P interface when it conforms to P (through a proxy: the target's, sharing its
// ownership), else nullptr.
template <class P>
std::shared_ptr<P> interfaceOf(const std::shared_ptr<Object>& object) {
  if (!object) return nullptr;
  if (auto* conformer = dynamic_cast<const ProtocolConformer*>(object.get()))
    return std::dynamic_pointer_cast<P>(conformer->implementerOf(protocolOf<P>()));
  return std::dynamic_pointer_cast<P>(object);
}

// The P side of an object the caller holds for the call. A proxy answers for itself, since it may
// expose fewer kinds than the object behind it implements (the result then shares the target);
// anything else answers by its C++ type, and the result does not own it. nullptr when the object
// is null or not of that kind.
template <class P, class T>
std::shared_ptr<const P> kindOf(const T* object) {
  if (!object) return nullptr;
  if (auto* proxy = dynamic_cast<const ProtocolConformer*>(object))
    return std::dynamic_pointer_cast<const P>(proxy->implementerOf(protocolOf<P>()));
  return std::shared_ptr<const P>(std::shared_ptr<const P>(), dynamic_cast<const P*>(object));
}

}  // namespace tw

// Declares the descriptor of protocol class P (see the top of this file). At global scope, after
// P's definition; P is a global class name (protocols carry their prefix, not a namespace).
#define TW_PROTOCOL(P, ...)                                                               \
  template <>                                                                             \
  inline const ::tw::Protocol& ::tw::protocolOf<P>() {                                    \
    static const ::tw::Protocol& descriptor = ::tw::Protocol::define<P>(#P, __VA_ARGS__); \
    return descriptor;                                                                    \
  }                                                                                       \
  [[maybe_unused]] inline const ::tw::Protocol& twProtocolRegistration_##P = ::tw::protocolOf<P>();
