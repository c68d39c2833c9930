// Operations and operation queues (see OperationQueue.h).

#include "platform/foundation/OperationQueue.h"

#include <algorithm>
#include <thread>

#include "platform/foundation/Dispatch_impl.h"
#include "platform/foundation/Exception.h"

namespace tw {

namespace {
thread_local OperationQueue* tlsOperationQueue = nullptr;

int defaultConcurrency() {
  return std::max(2, static_cast<int>(std::thread::hardware_concurrency()));
}
}  // namespace

// ---- Operation ------------------------------------------------------------------------------

Operation::Operation() = default;
Operation::~Operation() = default;

void Operation::start() {
  const char* problem = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (enqueued_)
      problem = "operation is in a queue and is started by it";
    else if (executing_ || finished_)
      problem = "operation has already started";
  }
  if (!problem && !isReady()) problem = "operation is not yet ready to execute";
  if (problem) raise(NSInvalidArgumentException, std::string("Operation::start: ") + problem);
  run();
}

void Operation::run(const std::string* survivingQueue) {
  bool skip;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    executing_ = true;
    skip = cancelled_;
  }
  if (!skip && survivingQueue) {
    // An operation whose work failed half-way never finishes by itself: finish it here, so its
    // dependents and its serial queue go on.
    if (!callLogged(survivingQueue->c_str(), [this] { main(); })) {
      finish();
      return;
    }
  } else if (!skip) {
    main();
  }
  if (skip || !isAsynchronous()) finish();
}

void Operation::finishAsynchronousOperation() {
  std::shared_ptr<OperationQueue> queue;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    queue = queue_.lock();
  }
  finish();
  if (queue && claimQueueNotice()) queue->operationDidFinish(shared_from_this());
}

void Operation::finish() {
  Block completion;
  std::vector<std::weak_ptr<Operation>> dependents;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;  // an asynchronous operation may be finished from two threads
    executing_ = false;
    finished_ = true;
    completion = std::move(completion_);
    completion_ = nullptr;
    dependents = dependents_;
  }
  cv_.notify_all();
  for (auto& weak : dependents) {
    if (auto dependent = weak.lock()) dependent->dependencyChanged();
  }
  if (completion) completion();
}

// Something this operation's readiness depends on changed: its queue looks again.
void Operation::dependencyChanged() {
  std::shared_ptr<OperationQueue> queue;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue = queue_.lock();
  }
  if (queue) queue->startReadyOperations();
}

void Operation::cancel() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_ || finished_) return;
    cancelled_ = true;
  }
  dependencyChanged();
}

bool Operation::isCancelled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cancelled_;
}

bool Operation::isExecuting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return executing_;
}

bool Operation::isFinished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

bool Operation::isReady() const {
  std::vector<std::shared_ptr<Operation>> dependencies;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) return true;
    dependencies = dependencies_;
  }
  // One operation's lock at a time, so dependency chains never nest locks.
  return std::all_of(dependencies.begin(), dependencies.end(),
                     [](const auto& d) { return d->isFinished(); });
}

void Operation::addDependency(const std::shared_ptr<Operation>& operation) {
  TW_PARAMETER_ASSERT(operation != nullptr && operation.get() != this);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(dependencies_.begin(), dependencies_.end(), operation) != dependencies_.end())
      return;
    dependencies_.push_back(operation);
  }
  // A new dependency can only hold this operation back, so its queue need not look again now;
  // the dependency tells it when it finishes.
  std::lock_guard<std::mutex> lock(operation->mutex_);
  operation->dependents_.push_back(weak_from_this());
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation) {
  if (!operation) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find(dependencies_.begin(), dependencies_.end(), operation);
    if (it == dependencies_.end()) return;
    dependencies_.erase(it);
  }
  {
    std::lock_guard<std::mutex> lock(operation->mutex_);
    auto& list = operation->dependents_;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [this](const auto& w) {
                                auto p = w.lock();
                                return !p || p.get() == this;
                              }),
               list.end());
  }
  dependencyChanged();
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dependencies_;
}

void Operation::setCompletionBlock(Block block) {
  std::lock_guard<std::mutex> lock(mutex_);
  completion_ = std::move(block);
}

Block Operation::completionBlock() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return completion_;
}

std::string Operation::name() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return name_;
}

void Operation::setName(std::string name) {
  std::lock_guard<std::mutex> lock(mutex_);
  name_ = std::move(name);
}

void Operation::waitUntilFinished() {
  std::shared_ptr<OperationQueue> queue;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    queue = queue_.lock();
  }
  if (queue && queue->isMain_ && isMainThread()) {
    detail::MainLoopAccess::pumpUntil([this] { return isFinished(); }, std::nullopt);
    return;
  }
  BlockingScope blocking;
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return finished_; });
}

// ---- BlockOperation -------------------------------------------------------------------------

std::shared_ptr<BlockOperation> BlockOperation::create(Block block) {
  return std::make_shared<BlockOperation>(std::move(block));
}

BlockOperation::BlockOperation(Block block) {
  if (block) blocks_.push_back(std::move(block));
}

void BlockOperation::addExecutionBlock(Block block) {
  if (isExecuting() || isFinished()) {
    raise(NSInvalidArgumentException,
          "BlockOperation::addExecutionBlock: blocks cannot be added after the operation has "
          "started executing or finished");
  }
  std::lock_guard<std::mutex> lock(blocksMutex_);
  blocks_.push_back(std::move(block));
}

std::vector<Block> BlockOperation::executionBlocks() const {
  std::lock_guard<std::mutex> lock(blocksMutex_);
  return blocks_;
}

void BlockOperation::main() {
  std::vector<Block> blocks;
  {
    std::lock_guard<std::mutex> lock(blocksMutex_);
    blocks.swap(blocks_);  // released once run, so captures do not outlive the work
  }
  for (auto& block : blocks) {
    if (block) block();
  }
}

// ---- OperationQueue -------------------------------------------------------------------------

OperationQueue::OperationQueue(std::string name, bool isMain)
    : isMain_(isMain), name_(std::move(name)) {
  if (isMain_) maxConcurrent_ = 1;
}

OperationQueue::~OperationQueue() = default;

std::shared_ptr<OperationQueue> OperationQueue::create(std::string name) {
  return std::shared_ptr<OperationQueue>(new OperationQueue(std::move(name), false));
}

std::shared_ptr<OperationQueue> OperationQueue::main() {
  static auto* queue =
      new std::shared_ptr<OperationQueue>(new OperationQueue("main operation queue", true));
  return *queue;
}

std::shared_ptr<OperationQueue> OperationQueue::current() {
  if (tlsOperationQueue) return tlsOperationQueue->shared_from_this();
  if (isMainThread()) return main();
  return nullptr;
}

std::string OperationQueue::name() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return name_;
}

void OperationQueue::setName(std::string name) {
  std::lock_guard<std::mutex> lock(mutex_);
  name_ = std::move(name);
}

int OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return maxConcurrent_;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (isMain_) return;
    maxConcurrent_ = count < 0 ? DefaultMaxConcurrentOperationCount : count;
  }
  startReadyOperations();
}

void OperationQueue::setContinuesAfterExceptions(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  continuesAfterExceptions_ = on;
}

bool OperationQueue::continuesAfterExceptions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return continuesAfterExceptions_;
}

bool OperationQueue::isSuspended() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return suspended_;
}

void OperationQueue::setSuspended(bool suspended) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    suspended_ = suspended;
  }
  if (!suspended) startReadyOperations();
}

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
  TW_PARAMETER_ASSERT(operation != nullptr);
  const char* problem = nullptr;
  {
    std::lock_guard<std::mutex> lock(operation->mutex_);
    if (operation->enqueued_)
      problem = "operation is already enqueued on a queue";
    else if (operation->executing_)
      problem = "operation is executing and cannot be enqueued";
    else if (operation->finished_)
      problem = "operation is finished and cannot be enqueued";
    else {
      operation->enqueued_ = true;
      operation->queue_ = weak_from_this();
    }
  }
  if (problem)
    raise(NSInvalidArgumentException, std::string("OperationQueue::addOperation: ") + problem);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_.push_back({operation, false});
    if (!keepAlive_) keepAlive_ = shared_from_this();
  }
  startReadyOperations();
}

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& operations,
                                   bool waitUntilFinished) {
  for (const auto& operation : operations) addOperation(operation);
  if (waitUntilFinished) {
    for (const auto& operation : operations) operation->waitUntilFinished();
  }
}

std::shared_ptr<BlockOperation> OperationQueue::addOperationWithBlock(Block block) {
  auto operation = BlockOperation::create(std::move(block));
  addOperation(operation);
  return operation;
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<Operation>> result;
  result.reserve(slots_.size());
  for (const auto& slot : slots_) result.push_back(slot.operation);
  return result;
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return slots_.size();
}

void OperationQueue::cancelAllOperations() {
  for (const auto& operation : operations()) operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  auto empty = [this] {
    std::lock_guard<std::mutex> lock(mutex_);
    return slots_.empty();
  };
  if (isMain_ && isMainThread()) {
    detail::MainLoopAccess::pumpUntil(empty, std::nullopt);
    return;
  }
  BlockingScope blocking;
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return slots_.empty(); });
}

void OperationQueue::startReadyOperations() {
  std::vector<std::shared_ptr<Operation>> ready;
  std::string label;
  bool survive = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (suspended_) return;
    const int limit = maxConcurrent_ < 0 ? defaultConcurrency() : maxConcurrent_;
    for (auto& slot : slots_) {
      if (running_ >= limit) break;
      if (slot.started || !slot.operation->isReady()) continue;
      slot.started = true;
      ++running_;
      ready.push_back(slot.operation);
    }
    label = name_.empty() ? "operation queue" : name_;
    survive = continuesAfterExceptions_;
  }
  if (ready.empty()) return;
  auto self = shared_from_this();
  auto target = isMain_ ? DispatchQueue::main() : DispatchQueue::global();
  for (auto& operation : ready) {
    target->async([self, operation, label, survive] {
      OperationQueue* previous = tlsOperationQueue;
      tlsOperationQueue = self.get();
      callGuarded(label.c_str(), [&] { operation->run(survive ? &label : nullptr); });
      tlsOperationQueue = previous;
      // An asynchronous operation still running tells the queue itself when it finishes.
      if (operation->isFinished() && operation->claimQueueNotice()) {
        self->operationDidFinish(operation);
      }
    });
  }
}

void OperationQueue::operationDidFinish(const std::shared_ptr<Operation>& operation) {
  std::shared_ptr<OperationQueue> release;  // dropped last, after we are done with `this`
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(slots_.begin(), slots_.end(),
                           [&](const Slot& s) { return s.operation == operation; });
    if (it != slots_.end()) slots_.erase(it);
    --running_;
    if (slots_.empty()) release = std::move(keepAlive_);
  }
  cv_.notify_all();
  startReadyOperations();
}

}  // namespace tw
