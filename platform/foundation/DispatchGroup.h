#pragma once
// tw::DispatchGroup: waits for, or is told of, the end of a set of blocks. Any thread.

#include <memory>

#include "platform/foundation/DispatchQueue.h"

namespace tw {

// Tracks a set of blocks; notify() runs a block on a queue once all have left.
class DispatchGroup {
 public:
  DispatchGroup();
  ~DispatchGroup();
  void enter();
  // A leave() without its enter() raises NSInternalInconsistencyException.
  void leave();
  void async(const std::shared_ptr<DispatchQueue>& queue, Block block);
  // False on time-out (seconds < 0 waits for ever). Timeouts follow tw::clock.
  bool wait(double seconds = -1);
  void notify(const std::shared_ptr<DispatchQueue>& queue, Block block);

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace tw
