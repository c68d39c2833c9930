#include "platform/foundation/TypeName.h"

#include <cxxabi.h>

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <typeindex>
#include <unordered_map>

namespace tw {

namespace {

bool isIdentifierChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// "tw::(anonymous namespace)::Outer<int>::Inner" -> "Inner"; qualifiers inside template
// arguments go too ("Box<tw::Foo>" -> "Box<Foo>").
std::string withoutQualifiers(std::string_view name) {
  static constexpr std::string_view kAnonymous = "(anonymous namespace)";
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] != ':' || i + 1 >= name.size() || name[i + 1] != ':') {
      out += name[i];
      continue;
    }
    ++i;
    if (out.ends_with(kAnonymous)) {
      out.resize(out.size() - kAnonymous.size());
      continue;
    }
    if (!out.empty() && out.back() == '>') {
      int depth = 0;
      while (!out.empty()) {
        char c = out.back();
        out.pop_back();
        if (c == '>') ++depth;
        if (c == '<' && --depth == 0) break;
      }
    }
    while (!out.empty() && isIdentifierChar(out.back())) out.pop_back();
  }
  return out;
}

}  // namespace

std::optional<std::string> demangleCxxName(const char* mangled) {
  if (mangled == nullptr) return std::nullopt;
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::optional<std::string> result;
  if (status == 0 && demangled != nullptr) result = std::string(demangled);
  std::free(demangled);
  return result;
}

std::string demangledTypeName(const std::type_info& type) {
  // Never destroyed: static destructors elsewhere may still name classes in their logs.
  static std::mutex* const mutex = new std::mutex;
  static auto* const cache = new std::unordered_map<std::type_index, std::string>;
  std::lock_guard lock(*mutex);
  auto it = cache->find(type);
  if (it != cache->end()) return it->second;
  const auto demangled = demangleCxxName(type.name());
  std::string name = withoutQualifiers(demangled ? *demangled : std::string(type.name()));
  cache->emplace(type, name);
  return name;
}

}  // namespace tw
