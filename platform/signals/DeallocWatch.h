#pragma once
// tw::DeallocWatch: runs a block when a tw::Object is destroyed, so that signals built on an
// object (its key-path values, its "will go away" signal, bindings into it) can end at that moment
// instead of lingering until their next value. Blocks run once, on the thread that destroys the
// object, while it is being torn down: they must not try to reach it (its weak references have
// already expired). Safe on any thread.
//
// How it is attached: the first watch on an object registers one inert key-value observation on
// it (a key nothing ever changes, no options); that observation's callback owns the object's list
// of watches, and the object releases it with its other observations when it is destroyed. The
// object's observationCount() therefore counts one more while any watch has ever been set on it.

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/foundation/Object.h"

namespace tw {

namespace detail {
struct DeallocRegistry;
}

class DeallocWatch {
 public:
  DeallocWatch() = default;

  // Runs `block` when `object` is destroyed, unless cancelled first. A null object gives an empty
  // watch and the block never runs.
  static DeallocWatch add(const std::shared_ptr<Object>& object, std::function<void()> block);
  // The key the inert observation uses.
  static const char* sentinelKey();

  // The block will not start after this returns (one already running on the destroying thread may
  // still be finishing). Idempotent; an empty watch does nothing.
  void cancel() const;
  explicit operator bool() const { return id_ != 0; }

 private:
  DeallocWatch(std::weak_ptr<detail::DeallocRegistry> registry, std::uint64_t id)
      : registry_(std::move(registry)), id_(id) {}

  std::weak_ptr<detail::DeallocRegistry> registry_;
  std::uint64_t id_ = 0;
};

}  // namespace tw
