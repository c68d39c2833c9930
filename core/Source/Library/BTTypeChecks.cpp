#include "core/Source/Library/BTTypeChecks.h"

#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"

namespace {

std::string classNameOf(const tw::Object* object) {
  return object ? object->className() : std::string("(null)");
}

}  // namespace

void BTEnsureProtocolConformance(const tw::Object* object, const tw::Protocol& protocol) {
  if (tw::conformsTo(object, protocol)) return;
  tw::raise(tw::NSInternalInconsistencyException,
            tw::format("`object` (<%@>) does not conform to protocol `%@`", classNameOf(object),
                       protocol.name()));
}

namespace tw {

void raiseClassKindMismatch(const Object* object, const std::string& className) {
  raise(NSInternalInconsistencyException,
        format("`object` (<%@>) is not of class type `%@`", classNameOf(object), className));
}

}  // namespace tw
