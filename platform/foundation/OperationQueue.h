#pragma once
// Operation queues: units of work (Operation, BlockOperation) with dependencies, cancellation and
// completion blocks, run by a queue that is serial (maxConcurrentOperationCount 1) or
// concurrent. Owned by platform/foundation; every member may be called from any thread.
//
// A queue starts its ready operations in the order they were added, up to its limit, on the
// global dispatch pool; the main operation queue runs them one at a time on the main queue.
// Dependencies may be added while an operation waits in a queue (they hold it back until they
// finish) and may live in other queues. A cancelled operation is ready at once (it no longer
// waits for its dependencies), skips main() and finishes; operations that depend on it then run
// as usual. An exception escaping an operation ends the process like one escaping any block,
// unless its queue goes on after exceptions: the operation is then logged, finished, and the queue
// goes on.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Dispatch.h"

namespace tw {

class OperationQueue;

class Operation : public std::enable_shared_from_this<Operation> {
 public:
  Operation();
  virtual ~Operation();
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  // Runs the operation on the calling thread (main() unless cancelled, then finishes). Raises
  // NSInvalidArgumentException for an operation that is in a queue, not ready, or already
  // started.
  void start();
  // Subclasses that cancel work of their own call this first.
  virtual void cancel();
  bool isCancelled() const;
  bool isExecuting() const;
  bool isFinished() const;
  bool isReady() const;

  void addDependency(const std::shared_ptr<Operation>& operation);
  void removeDependency(const std::shared_ptr<Operation>& operation);
  std::vector<std::shared_ptr<Operation>> dependencies() const;

  // Runs once the operation has finished (cancelled or not), on the thread that finished it;
  // the block is released afterwards.
  void setCompletionBlock(Block block);
  Block completionBlock() const;

  std::string name() const;
  void setName(std::string name);

  // Blocks until finished. On the main thread, for an operation of the main operation queue, it
  // keeps the main queue running meanwhile.
  void waitUntilFinished();

 protected:
  // The work; long operations check isCancelled() now and then.
  virtual void main() {}
  // An asynchronous operation stays executing after main() returns, until it calls
  // finishAsynchronousOperation() (from any thread; later calls do nothing). A cancelled one
  // still finishes at start without running main().
  virtual bool isAsynchronous() const { return false; }
  void finishAsynchronousOperation();

 private:
  friend class OperationQueue;
  // `survivingQueue`: the name of a queue that goes on after exceptions, or nullptr.
  void run(const std::string* survivingQueue = nullptr);
  // True for the one caller that may tell the queue this operation finished.
  bool claimQueueNotice() { return !queueNoticed_.exchange(true); }
  std::atomic<bool> queueNoticed_{false};
  void finish();
  void dependencyChanged();

  // Guards the state flags and the members below; cv_ waits on it.
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool cancelled_ = false;
  bool executing_ = false;
  bool finished_ = false;
  bool enqueued_ = false;
  std::string name_;
  Block completion_;
  std::vector<std::shared_ptr<Operation>> dependencies_;
  std::vector<std::weak_ptr<Operation>> dependents_;
  std::weak_ptr<OperationQueue> queue_;
};

// Runs its blocks one after another on the operation's thread.
class BlockOperation : public Operation {
 public:
  static std::shared_ptr<BlockOperation> create(Block block);
  BlockOperation() = default;
  explicit BlockOperation(Block block);

  // Raises NSInvalidArgumentException once the operation has started.
  void addExecutionBlock(Block block);
  std::vector<Block> executionBlocks() const;

 protected:
  void main() override;

 private:
  // Guards blocks_.
  mutable std::mutex blocksMutex_;
  std::vector<Block> blocks_;
};

class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
 public:
  // The limit's default: as many operations at once as the machine has cores.
  static constexpr int DefaultMaxConcurrentOperationCount = -1;

  static std::shared_ptr<OperationQueue> create(std::string name = {});
  // Runs on the main thread, one operation at a time.
  static std::shared_ptr<OperationQueue> main();
  // The queue running the calling code's operation; on the main thread outside any operation,
  // the main operation queue; otherwise nullptr.
  static std::shared_ptr<OperationQueue> current();

  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  std::string name() const;
  void setName(std::string name);
  int maxConcurrentOperationCount() const;
  // 1 makes the queue serial; the main operation queue stays at 1.
  void setMaxConcurrentOperationCount(int count);
  bool isSuspended() const;
  void setSuspended(bool suspended);
  // Off by default. On, an exception escaping an operation's main() is logged with the queue's
  // name (tw::logEscapedException), the operation finishes and the queue goes on.
  void setContinuesAfterExceptions(bool on);
  bool continuesAfterExceptions() const;

  // Raises NSInvalidArgumentException for an operation that is already in a queue, executing or
  // finished.
  void addOperation(const std::shared_ptr<Operation>& operation);
  void addOperations(const std::vector<std::shared_ptr<Operation>>& operations,
                     bool waitUntilFinished);
  std::shared_ptr<BlockOperation> addOperationWithBlock(Block block);

  // Operations not yet finished, in the order they were added.
  std::vector<std::shared_ptr<Operation>> operations() const;
  std::size_t operationCount() const;
  void cancelAllOperations();
  // Blocks until the queue is empty (see Operation::waitUntilFinished for the main queue).
  void waitUntilAllOperationsAreFinished();

 private:
  OperationQueue(std::string name, bool isMain);
  void startReadyOperations();
  void operationDidFinish(const std::shared_ptr<Operation>& operation);
  friend class Operation;

  struct Slot {
    std::shared_ptr<Operation> operation;
    bool started = false;
  };

  // Guards the members below (isMain_ is constant); cv_ waits on it.
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  const bool isMain_;
  std::string name_;
  int maxConcurrent_ = DefaultMaxConcurrentOperationCount;
  bool suspended_ = false;
  bool continuesAfterExceptions_ = false;
  int running_ = 0;
  // A deque: operations finish mostly at the front, and a burst of thousands stays linear.
  std::deque<Slot> slots_;
  std::shared_ptr<OperationQueue> keepAlive_;  // set while operations are queued or running
};

}  // namespace tw
