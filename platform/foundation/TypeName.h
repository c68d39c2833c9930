#pragma once
// The class name of a C++ type as logs, messages and key-value coding write it: demangled and
// without qualifiers ("tw::(anonymous namespace)::Outer<int>::Inner" -> "Inner",
// "Box<tw::Foo>" -> "Box<Foo>"). Names are worked out once per type and cached. Any thread.

#include <optional>
#include <string>
#include <typeinfo>

namespace tw {

// The process's one C++ demangler (the runtime's): the readable form of a mangled name, or
// nullopt when the text is no mangled name it understands. Any thread.
std::optional<std::string> demangleCxxName(const char* mangled);

std::string demangledTypeName(const std::type_info& type);

}  // namespace tw
