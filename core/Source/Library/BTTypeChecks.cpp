#include "core/Source/Library/BTTypeChecks.h"

#include <cxxabi.h>

#include <cstdlib>

#include "platform/foundation/Exception.h"
#include "platform/foundation/Format.h"

namespace {

std::string classNameOf(const tw::Object* object) {
  return object ? object->className() : std::string("(null)");
}

// "a::b<c::d>::e" -> "e": the last component outside any template arguments.
std::string withoutScopes(const std::string& name) {
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '<') ++depth;
    if (c == '>') --depth;
    if (depth == 0 && c == ':' && i + 1 < name.size() && name[i + 1] == ':') start = i + 2;
  }
  return name.substr(start);
}

}  // namespace

void BTEnsureProtocolConformance(const tw::Object* object, const tw::Protocol& protocol) {
  if (tw::conformsTo(object, protocol)) return;
  tw::raise(tw::NSInternalInconsistencyException,
            tw::format("`object` (<%@>) does not conform to protocol `%@`", classNameOf(object),
                       protocol.name()));
}

namespace tw {

std::string demangledTypeName(const std::type_info& type) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : type.name();
  std::free(demangled);
  return withoutScopes(name);
}

void raiseClassKindMismatch(const Object* object, const std::string& className) {
  raise(NSInternalInconsistencyException,
        format("`object` (<%@>) is not of class type `%@`", classNameOf(object), className));
}

}  // namespace tw
