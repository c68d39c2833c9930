#pragma once
// Checks that raise on a wrong type: exported for the application as well. A failure is a
// programming error: NSInternalInconsistencyException with the reason
//   "`object` (<ClassName>) does not conform to protocol `ProtocolName`"
//   "`object` (<ClassName>) is not of class type `ClassName`"
// (a null object reads "(null)"). Plain functions without state: any thread.

#include <memory>
#include <string>
#include <typeinfo>

#include "core/Source/Library/Proxying/Protocol.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/TypeName.h"

namespace tw {
[[noreturn]] void raiseClassKindMismatch(const Object* object, const std::string& className);
}  // namespace tw

// Returns when the object conforms to the protocol (a proxy answers for itself).
void BTEnsureProtocolConformance(const tw::Object* object, const tw::Protocol& protocol);
template <class P>
void BTEnsureProtocolConformance(const tw::Object* object) {
  BTEnsureProtocolConformance(object, tw::protocolOf<P>());
}
template <class T>
void BTEnsureProtocolConformance(const std::shared_ptr<T>& object, const tw::Protocol& protocol) {
  BTEnsureProtocolConformance(dynamic_cast<const tw::Object*>(object.get()), protocol);
}

// Returns when the object is a C or of a class derived from it.
template <class C, class T>
void BTEnsureClassKind(const T* object) {
  const bool isKind = dynamic_cast<const C*>(object) != nullptr;
  if (!isKind)
    tw::raiseClassKindMismatch(dynamic_cast<const tw::Object*>(object),
                               tw::demangledTypeName(typeid(C)));
}
template <class C, class T>
void BTEnsureClassKind(const std::shared_ptr<T>& object) {
  BTEnsureClassKind<C>(object.get());
}
