#pragma once
// The class name of a C++ type as logs, messages and key-value coding write it: demangled and
// without qualifiers ("tw::(anonymous namespace)::Outer<int>::Inner" -> "Inner",
// "Box<tw::Foo>" -> "Box<Foo>"). Names are worked out once per type and cached. Any thread.

#include <string>
#include <typeinfo>

namespace tw {

std::string demangledTypeName(const std::type_info& type);

}  // namespace tw
