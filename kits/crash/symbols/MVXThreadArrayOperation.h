#pragma once
// MVXThreadArrayOperation: the base of the operations that work over one record file's thread
// array (symbolicate, demangle, write). Run synchronously with start() on the caller's thread
// (the crash kit's work queue); one thread at a time.

#include <functional>

#include "kits/crash/symbols/MVXStackFrame.h"
#include "platform/foundation/OperationQueue.h"

class MVXThreadArrayOperation : public tw::Operation {
 public:
  // Frames in order, thread by thread; when the operation is cancelled the rest of the current
  // thread is skipped and the next thread begins. The second argument is the frame's index.
  void enumerateFramesWithBlock(const std::function<void(MVXStackFrame&, std::size_t)>& block);
  const MVXThreadArray& threadArray() const { return threadArray_; }
  void setThreadArray(MVXThreadArray threadArray) { threadArray_ = std::move(threadArray); }

 private:
  MVXThreadArray threadArray_;
};
