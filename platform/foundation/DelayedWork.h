#pragma once
// tw::DelayedWork: the handle on a block that DispatchQueue::after() runs later
// (platform/foundation/DispatchQueue.h). Any thread.

#include <memory>

namespace tw {

namespace detail {
struct DelayedEntry;
}  // namespace detail

// Handle on delayed work; cancel() guarantees the block will not start afterwards (a block that
// already started runs to its end) and takes it off the scheduler, so cancelled work costs no
// wake-up. Copyable; a default handle cancels nothing.
class DelayedWork {
 public:
  DelayedWork() = default;
  void cancel() const;
  bool isCancelled() const;
  explicit operator bool() const { return static_cast<bool>(entry_); }

 private:
  friend class DispatchQueue;
  explicit DelayedWork(std::shared_ptr<detail::DelayedEntry> entry) : entry_(std::move(entry)) {}
  std::shared_ptr<detail::DelayedEntry> entry_;
};

}  // namespace tw
