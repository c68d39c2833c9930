#pragma once
// tw::DispatchQueue: the main queue, serial queues and the global queues. Any thread, unless a
// member says otherwise.
//
// The main queue is one FIFO of blocks that any thread may post to; it runs on the main thread
// (the process's initial thread, the one that runs main()), pumped by the main run loop
// (platform/foundation/RunLoop.h). Serial queues run one block at a time, in order, on a thread
// of their own; global queues run blocks concurrently on a shared pool. Delayed work goes through
// one scheduler on the monotonic clock (tw::clock), so a VirtualClock drives it in tests. An
// exception escaping any block ends the process through tw::terminateWithUncaught(<queue
// label>), unless the queue was told to go on after exceptions.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/foundation/DelayedWork.h"

namespace tw {

using Block = std::function<void()>;

enum class QoS { Background, Utility, Default, UserInitiated, UserInteractive };

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
 public:
  virtual ~DispatchQueue() = default;

  static std::shared_ptr<DispatchQueue> main();
  static std::shared_ptr<DispatchQueue> global(QoS qos = QoS::Default);
  // A serial queue with its own thread (started on first use); the thread ends when the last
  // reference goes and the queue has drained. A queue with work pending keeps itself alive.
  // Background and Utility lower the thread's scheduling priority; finer classes and the
  // relative priority have no Linux counterpart an unprivileged process may use.
  static std::shared_ptr<DispatchQueue> createSerial(std::string label, QoS qos = QoS::Default,
                                                     int relativePriority = 0);
  // The queue whose block is running on this thread, or nullptr (main thread outside a block
  // counts as the main queue).
  static std::shared_ptr<DispatchQueue> current();

  const std::string& label() const { return label_; }
  bool isSerial() const { return serial_; }
  bool isMain() const;
  // True when the calling thread is running this queue's work (for main: is the main thread).
  virtual bool isCurrent() const = 0;

  // Off by default (the boundary rule above). On, an exception escaping one of this queue's
  // blocks is logged with the queue's label (tw::logEscapedException) and the queue goes on with
  // its next block: for work whose faults must never end the application.
  void setContinuesAfterExceptions(bool on) { continuesAfterExceptions_.store(on); }
  bool continuesAfterExceptions() const { return continuesAfterExceptions_.load(); }

  virtual void async(Block block) = 0;
  // Runs the block on the queue and waits for it. On the queue itself (including the main queue
  // on the main thread) it runs inline instead of deadlocking; on a global queue it runs inline
  // on the caller's thread. A worker waiting for the main queue is served even while the main
  // thread sits in a nested loop.
  void sync(const Block& block);
  // Runs the block after `seconds` (monotonic clock) unless cancelled first. Zero or less posts
  // at once: the block runs on a later turn of the queue, never inside this call.
  DelayedWork after(double seconds, Block block);

 protected:
  DispatchQueue(std::string label, bool serial) : label_(std::move(label)), serial_(serial) {}

 private:
  std::string label_;
  bool serial_;
  std::atomic<bool> continuesAfterExceptions_{false};
};

// Convenience for the main queue.
inline void onMain(Block b) { DispatchQueue::main()->async(std::move(b)); }

}  // namespace tw
