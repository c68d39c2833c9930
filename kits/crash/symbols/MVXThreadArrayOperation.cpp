#include "kits/crash/symbols/MVXThreadArrayOperation.h"

void MVXThreadArrayOperation::enumerateFramesWithBlock(
    const std::function<void(MVXStackFrame&, std::size_t)>& block) {
  for (const auto& thread : threadArray_) {
    for (std::size_t i = 0; i < thread.size(); ++i) {
      if (thread[i]) block(*thread[i], i);
      if (isCancelled()) break;
    }
  }
}
