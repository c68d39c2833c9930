#pragma once
// MVXDemangleOperation: gives every frame whose raw symbol is a mangled C++ name (or a block
// built on one) its readable name; the raw symbol stays. Demangling goes through the process's
// one demangler (tw::demangleCxxName). Run with start() on the caller's thread; the class
// functions may be called from any thread.

#include <optional>
#include <string>

#include "kits/crash/symbols/MVXThreadArrayOperation.h"

class MVXDemangleOperation : public MVXThreadArrayOperation {
 public:
  // nullopt for a null name, a name that is not mangled, or one the demangler does not take.
  static std::optional<std::string> demangleSymbol(const char* symbol);
  // "__Z..._block_invoke[_n]": the name before "_block_invoke" (less its first underscore)
  // demangled, followed by the rest as written.
  static std::optional<std::string> demangleBlockInvokeCppSymbol(const char* symbol);
  static std::optional<std::string> demangleCppSymbol(const char* symbol);

 protected:
  void main() override;
};
