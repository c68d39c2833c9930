#include "kits/crash/symbols/MVXSymbolicationOperation.h"

void MVXSymbolicationOperation::main() {
  if (!resolver_) return;
  enumerateFramesWithBlock([this](MVXStackFrame& frame, std::size_t index) {
    resolver_->updateStackFrame(&frame, index == 0);
  });
}
