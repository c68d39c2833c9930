#pragma once
// MVXSymbolicationOperation: names every frame of a thread array through a symbol resolver. Each
// thread's first frame is its current instruction and is named at its exact address; the others
// are return addresses. Run with start() on the caller's thread; one thread at a time.

#include <memory>

#include "kits/crash/symbols/MVXSymbolResolver.h"
#include "kits/crash/symbols/MVXThreadArrayOperation.h"

class MVXSymbolicationOperation : public MVXThreadArrayOperation {
 public:
  const std::shared_ptr<MVXSymbolResolver>& symbolResolver() const { return resolver_; }
  void setSymbolResolver(std::shared_ptr<MVXSymbolResolver> resolver) {
    resolver_ = std::move(resolver);
  }

 protected:
  void main() override;

 private:
  std::shared_ptr<MVXSymbolResolver> resolver_;
};
