#include "platform/inject/InjectedArgument.h"

#include <cxxabi.h>

#include <cstdlib>
#include <mutex>
#include <typeindex>
#include <unordered_map>

#include "platform/foundation/Exception.h"

namespace tw {

void InjectedArgument::raiseMismatch(const std::type_info& expected) const {
  raise(NSInternalInconsistencyException, "<TyphoonComponentFactory> " + description_ +
                                              " expects " + detail::injectionTypeName(expected) +
                                              " but the injected component is a " +
                                              component_->className());
}

namespace detail {

namespace {
// Drops namespace qualifiers outside template argument lists: "tw::Foo<tw::Bar>" -> "Foo<tw::Bar>".
std::string withoutNamespaces(const std::string& name) {
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

std::string injectionTypeName(const std::type_info& type) {
  static std::mutex mutex;
  static std::unordered_map<std::type_index, std::string> cache;
  std::lock_guard lock(mutex);
  if (auto it = cache.find(type); it != cache.end()) return it->second;
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = withoutNamespaces(status == 0 && demangled ? demangled : type.name());
  std::free(demangled);
  cache.emplace(type, name);
  return name;
}

}  // namespace detail
}  // namespace tw
