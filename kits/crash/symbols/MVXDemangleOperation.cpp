#include "kits/crash/symbols/MVXDemangleOperation.h"

#include <string_view>

#include "platform/foundation/TypeName.h"

std::optional<std::string> MVXDemangleOperation::demangleSymbol(const char* symbol) {
  if (symbol == nullptr) return std::nullopt;
  const std::string_view name(symbol);
  if (name.starts_with("_Z")) return demangleCppSymbol(symbol);
  if (name.starts_with("__Z")) return demangleBlockInvokeCppSymbol(symbol);
  return std::nullopt;
}

std::optional<std::string> MVXDemangleOperation::demangleBlockInvokeCppSymbol(const char* symbol) {
  if (symbol == nullptr) return std::nullopt;
  const std::string_view name(symbol);
  const std::size_t at = name.rfind("_block_invoke");
  if (at == std::string_view::npos || at < 5) return std::nullopt;
  const std::string inner(name.substr(1, at - 1));
  auto demangled = demangleSymbol(inner.c_str());
  if (!demangled) return std::nullopt;
  return *demangled + std::string(name.substr(at));
}

std::optional<std::string> MVXDemangleOperation::demangleCppSymbol(const char* symbol) {
  return tw::demangleCxxName(symbol);
}

void MVXDemangleOperation::main() {
  enumerateFramesWithBlock([](MVXStackFrame& frame, std::size_t) {
    if (!frame.rawSymbol()) return;
    if (auto name = demangleSymbol(frame.rawSymbol()->c_str())) frame.setSymbol(std::move(name));
  });
}
