// Dispatch queues, the main run loop, semaphores and groups (see Dispatch.h).

#include "platform/foundation/Dispatch.h"

#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/DispatchThreadHooks.h"
#include "platform/foundation/Dispatch_impl.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Thread.h"

namespace tw {

namespace {

constexpr const char* kMainQueueLabel = "main-thread";

// The queue whose block this thread is running (serial and global queues; the main thread
// outside such a block counts as the main queue).
thread_local DispatchQueue* tlsCurrentQueue = nullptr;
thread_local bool tlsPoolWorker = false;
thread_local int tlsBlockingDepth = 0;

void requireMainThread(const char* what) {
  if (!isMainThread())
    raise(NSInternalInconsistencyException,
          std::string(what) + " must be called on the main thread");
}

std::atomic<void (*)()> gThreadStartHook{nullptr};
std::atomic<void (*)(const char*)> gQueueThreadHook{nullptr};

void runQueueThreadHook(const char* label) {
  if (auto hook = gQueueThreadHook.load()) hook(label);
}

void nameThisThread(const std::string& label) {
  // The kernel keeps 15 bytes; the tail of a reverse-DNS label is the telling part.
  std::string name = label.size() > 15 ? label.substr(label.size() - 15) : label;
  pthread_setname_np(pthread_self(), name.c_str());
}

void lowerThisThreadPriority(QoS qos) {
  int delta = 0;
  if (qos == QoS::Background) delta = 10;
  if (qos == QoS::Utility) delta = 4;
  if (delta == 0) return;
  const id_t tid = static_cast<id_t>(gettid());
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, tid);
  if (errno == 0) setpriority(PRIO_PROCESS, tid, std::min(19, current + delta));
}

// Runs a block at the queue's boundary: an escaping exception ends the process, or is logged
// when the queue goes on after exceptions.
void runAtBoundary(const DispatchQueue& queue, const Block& block) {
  if (queue.continuesAfterExceptions()) {
    callLogged(queue.label().c_str(), block);
  } else {
    callGuarded(queue.label().c_str(), block);
  }
}

// Runs a block as the given queue's work on this thread.
void runAs(DispatchQueue* queue, const Block& block) {
  DispatchQueue* previous = tlsCurrentQueue;
  tlsCurrentQueue = queue;
  runAtBoundary(*queue, block);
  tlsCurrentQueue = previous;
}

// ---- main queue -----------------------------------------------------------------------------

class DefaultDriver final : public MainLoopDriver {
 public:
  void wakeUp() override { detail::MainLoopAccess::poke(); }
  // pumpUntil waits on the run loop's condition variable up to the earliest timed block itself.
  void wakeAt(std::int64_t /*monotonicNanos*/) override {}
};

}  // namespace

struct RunLoop::Impl {
  // Guards the queues (plain and timed), the wake-up state and the drivers (depth is atomic).
  mutable std::mutex mutex;
  std::condition_variable cv;  // only the main thread waits on it
  std::deque<Block> queue;
  std::uint64_t pokes = 0;
  int waiters = 0;
  bool wakePending = false;  // a custom driver was woken and no drain has started since
  std::shared_ptr<MainLoopDriver> customDriver;
  std::shared_ptr<MainLoopDriver> defaultDriver = std::make_shared<DefaultDriver>();
  std::vector<std::shared_ptr<std::atomic<bool>>> runLevels;  // stop flags of nested run()s
  std::atomic<int> depth{0};
  // Blocks that wait for a moment (postNotBefore), by deadline then arrival.
  std::map<std::pair<std::int64_t, std::uint64_t>, Block> timed;
  std::uint64_t nextTimedId = 0;
  std::int64_t armedAt = INT64_MAX;  // the moment the custom driver was last asked to wake for

  std::int64_t earliestTimedLocked() const {
    return timed.empty() ? INT64_MAX : timed.begin()->first.first;
  }

  void rearmLocked() {
    const std::int64_t at = earliestTimedLocked();
    if (at == armedAt || !customDriver) return;
    armedAt = at;
    customDriver->wakeAt(at);
  }

  std::uint64_t postTimed(Block block, std::int64_t notBefore) {
    std::uint64_t id;
    bool notify;
    {
      std::lock_guard<std::mutex> lock(mutex);
      id = ++nextTimedId;
      // A main thread waiting in pumpUntil must shorten its wait to the new moment.
      notify = notBefore < earliestTimedLocked() && waiters > 0;
      if (notify) ++pokes;
      timed.emplace(std::make_pair(notBefore, id), std::move(block));
      rearmLocked();
    }
    if (notify) cv.notify_one();
    return id;
  }

  void cancelTimed(std::uint64_t id) {
    Block dropped;  // its captures die outside the lock
    std::lock_guard<std::mutex> lock(mutex);
    auto it = std::find_if(timed.begin(), timed.end(),
                           [&](const auto& entry) { return entry.first.second == id; });
    if (it == timed.end()) return;
    dropped = std::move(it->second);
    timed.erase(it);
    rearmLocked();
  }

  void post(Block block) {
    std::shared_ptr<MainLoopDriver> wake;
    bool notify;
    {
      std::lock_guard<std::mutex> lock(mutex);
      queue.push_back(std::move(block));
      notify = waiters > 0;
      if (customDriver && !wakePending) {
        wakePending = true;
        wake = customDriver;
      }
    }
    if (notify) cv.notify_one();
    if (wake) wake->wakeUp();
  }

  void poke() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++pokes;
    }
    cv.notify_one();
  }
};

class MainQueue final : public DispatchQueue {
 public:
  MainQueue() : DispatchQueue(kMainQueueLabel, true) {}
  bool isCurrent() const override { return isMainThread(); }
  void async(Block block) override { RunLoop::main().impl_->post(std::move(block)); }
};

void setThreadStartHook(void (*hook)()) { gThreadStartHook.store(hook); }

void setQueueThreadHook(void (*hook)(const char* label)) { gQueueThreadHook.store(hook); }

void runThreadStartHook() {
  if (auto hook = gThreadStartHook.load()) hook();
}

bool isMainThread() {
  // The process's initial thread is the one whose thread id equals the process id; it runs
  // main() and, in the application, Qt's event loop.
  thread_local const bool isMain = gettid() == getpid();
  return isMain;
}

void detail::checkMainThread(const char* what) noexcept {
  if (isMainThread()) return;
  const std::string message = std::string(what) + " called off the main thread (thread " +
                              std::to_string(gettid()) + "); it is main thread only";
  log(LogLevel::Fault, message);
  // Also on the terminal: this is a developer's mistake, found while running a debug build.
  std::fprintf(stderr, "%s\n", message.c_str());
  std::abort();
}

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {}

RunLoop& RunLoop::main() {
  // Leaked on purpose: other threads may post until the very end of the process.
  static RunLoop* loop = new RunLoop();
  return *loop;
}

std::size_t RunLoop::drain() {
  requireMainThread("RunLoop::drain");
  std::size_t ran = 0;
  for (;;) {
    Block block;
    {
      std::lock_guard<std::mutex> lock(impl_->mutex);
      impl_->wakePending = false;
      auto& timed = impl_->timed;
      // A timed block whose moment has come goes before the queue's other blocks.
      if (!timed.empty() && timed.begin()->first.first <= detail::realMonotonicNanos()) {
        block = std::move(timed.begin()->second);
        timed.erase(timed.begin());
        impl_->rearmLocked();
      } else if (impl_->queue.empty()) {
        break;
      } else {
        block = std::move(impl_->queue.front());
        impl_->queue.pop_front();
      }
    }
    callGuarded(kMainQueueLabel, block);
    block = nullptr;  // captures die before the next block starts
    ++ran;
  }
  return ran;
}

namespace {
struct DepthGuard {
  std::atomic<int>& depth;
  explicit DepthGuard(std::atomic<int>& d) : depth(d) { ++depth; }
  ~DepthGuard() { --depth; }
};
}  // namespace

void RunLoop::run() {
  requireMainThread("RunLoop::run");
  auto stopped = std::make_shared<std::atomic<bool>>(false);
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->runLevels.push_back(stopped);
  }
  {
    DepthGuard depth(impl_->depth);
    detail::MainLoopAccess::pumpUntil([&] { return stopped->load(); }, std::nullopt);
  }
  std::lock_guard<std::mutex> lock(impl_->mutex);
  auto& levels = impl_->runLevels;
  levels.erase(std::remove(levels.begin(), levels.end(), stopped), levels.end());
}

void RunLoop::stop() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (impl_->runLevels.empty()) return;
    impl_->runLevels.back()->store(true);
    ++impl_->pokes;
  }
  impl_->cv.notify_one();
}

bool RunLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
  requireMainThread("RunLoop::runUntil");
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (timeoutSeconds < 1e9) {
    deadline = std::chrono::steady_clock::now() +
               std::chrono::nanoseconds(detail::secondsToNanos(timeoutSeconds));
  }
  DepthGuard depth(impl_->depth);
  return detail::MainLoopAccess::pumpUntil(done, deadline, /*poll=*/true);
}

int RunLoop::depth() const { return impl_->depth.load(); }

void RunLoop::setDriver(std::shared_ptr<MainLoopDriver> driver) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->customDriver = std::move(driver);
    impl_->wakePending = false;
    wake = impl_->customDriver && !impl_->queue.empty();
    if (wake) impl_->wakePending = true;
    impl_->armedAt = INT64_MAX;
    impl_->rearmLocked();
  }
  // Work that arrived before the driver must not wait for the next post.
  if (wake) impl_->customDriver->wakeUp();
}

std::shared_ptr<MainLoopDriver> RunLoop::driver() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->customDriver ? impl_->customDriver : impl_->defaultDriver;
}

std::size_t RunLoop::pendingCount() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->queue.size();
}

namespace detail {

void MainLoopAccess::poke() { RunLoop::main().impl_->poke(); }

std::size_t MainLoopAccess::drain() { return RunLoop::main().drain(); }

std::uint64_t MainLoopAccess::postTimed(Block block, std::int64_t notBefore) {
  return RunLoop::main().impl_->postTimed(std::move(block), notBefore);
}

void MainLoopAccess::cancelTimed(std::uint64_t id) { RunLoop::main().impl_->cancelTimed(id); }

bool MainLoopAccess::pumpUntil(const std::function<bool()>& pred,
                               std::optional<std::chrono::steady_clock::time_point> deadline,
                               bool poll) {
  requireMainThread("RunLoop");
  RunLoop::Impl& loop = *RunLoop::main().impl_;
  // Polling starts fast (a worker usually finishes quickly) and backs off to 10 ms.
  auto pollInterval = std::chrono::microseconds(250);
  for (;;) {
    std::uint64_t seen;
    {
      std::lock_guard<std::mutex> lock(loop.mutex);
      seen = loop.pokes;
    }
    if (pred()) return true;
    RunLoop::main().drain();
    if (pred()) return true;
    std::unique_lock<std::mutex> lock(loop.mutex);
    ++loop.waiters;
    bool timedOut = false;
    while (loop.queue.empty() && loop.pokes == seen) {
      auto until = deadline;
      bool pollDue = false;
      bool timedDue = false;
      if (const std::int64_t at = loop.earliestTimedLocked(); at != INT64_MAX) {
        const std::chrono::steady_clock::time_point moment{std::chrono::nanoseconds(at)};
        if (!until || moment < *until) {
          until = moment;
          timedDue = true;
        }
      }
      if (poll) {
        const auto next = std::chrono::steady_clock::now() + pollInterval;
        pollInterval =
            std::min<std::chrono::microseconds>(pollInterval * 2, std::chrono::milliseconds(10));
        if (!until || next < *until) {
          until = next;
          pollDue = true;
          timedDue = false;
        }
      }
      if (!until) {
        loop.cv.wait(lock);
      } else if (loop.cv.wait_until(lock, *until) == std::cv_status::timeout) {
        timedOut = !pollDue && !timedDue && loop.queue.empty() && loop.pokes == seen;
        break;
      }
    }
    --loop.waiters;
    if (timedOut) {
      lock.unlock();
      return pred();
    }
  }
}

}  // namespace detail

// ---- serial queues --------------------------------------------------------------------------

namespace {

class SerialQueue final : public DispatchQueue {
 public:
  SerialQueue(std::string label, QoS qos)
      : DispatchQueue(std::move(label), true), state_(std::make_shared<State>()) {
    state_->label = this->label();
    state_->qos = qos;
  }

  ~SerialQueue() override {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->closing = true;
    }
    state_->cv.notify_one();
  }

  bool isCurrent() const override { return tlsCurrentQueue == this; }

  void async(Block block) override {
    bool startThread = false;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->queue.push_back(std::move(block));
      startThread = keepAliveLocked();
    }
    wakeOrStart(startThread);
  }

  std::uint64_t enqueueTimed(Block block, std::int64_t notBefore) {
    bool startThread = false;
    std::uint64_t id;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      id = ++state_->nextTimedId;
      state_->timed.emplace(std::make_pair(notBefore, id), std::move(block));
      startThread = keepAliveLocked();
    }
    wakeOrStart(startThread);
    return id;
  }

  void cancelTimed(std::uint64_t id) {
    Block dropped;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      auto it = std::find_if(state_->timed.begin(), state_->timed.end(),
                             [&](const auto& entry) { return entry.first.second == id; });
      if (it == state_->timed.end()) return;
      dropped = std::move(it->second);
      state_->timed.erase(it);
    }
    // The thread re-arms its wait (and lets the queue go once nothing is left).
    state_->cv.notify_one();
  }

 private:
  // Timed blocks, by deadline then arrival.
  using TimedItems = std::map<std::pair<std::int64_t, std::uint64_t>, Block>;

  struct State {
    // Guards the queue, the timed items and the flags below; cv waits on it.
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Block> queue;
    TimedItems timed;
    std::uint64_t nextTimedId = 0;
    std::shared_ptr<DispatchQueue> keepAlive;  // set while blocks are queued or running
    bool threadStarted = false;
    bool closing = false;  // the queue object is gone
    std::string label;
    QoS qos = QoS::Default;
  };

  // Pending work keeps the queue alive, as a queue with blocks in flight is retained. Returns
  // whether the caller must start the thread.
  bool keepAliveLocked() {
    if (!state_->keepAlive) state_->keepAlive = shared_from_this();
    if (state_->threadStarted) return false;
    state_->threadStarted = true;
    return true;
  }

  void wakeOrStart(bool startThread) {
    if (startThread)
      tw::startThread({}, [state = state_, this] { threadMain(state, this); }).detach();
    else
      state_->cv.notify_one();
  }

  // Holds only the state: the queue object may go while the thread lives, and the thread ends
  // once it has.
  static void threadMain(const std::shared_ptr<State>& state, DispatchQueue* queue) {
    runQueueThreadHook(state->label.c_str());
    nameThisThread(state->label);
    lowerThisThreadPriority(state->qos);
    // Timer firings wait here for their exact deadline; the default 50 us of slack would be
    // added to every one of them.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
      const bool idle = state->queue.empty() && state->timed.empty();
      if (idle && state->keepAlive) {
        auto keep = std::move(state->keepAlive);
        lock.unlock();
        keep.reset();  // may run ~SerialQueue right here, which sets `closing`
        lock.lock();
        continue;
      }
      if (idle) {
        if (state->closing) break;
        state->cv.wait(lock);
        continue;
      }
      // A timed block whose moment has come goes first; until then the queue's other blocks
      // run in their order, and with none the thread sleeps to the earliest moment.
      Block block;
      if (!state->timed.empty() &&
          state->timed.begin()->first.first <= detail::realMonotonicNanos()) {
        block = std::move(state->timed.begin()->second);
        state->timed.erase(state->timed.begin());
      } else if (!state->queue.empty()) {
        block = std::move(state->queue.front());
        state->queue.pop_front();
      } else {
        state->cv.wait_until(lock, std::chrono::steady_clock::time_point{std::chrono::nanoseconds(
                                       state->timed.begin()->first.first)});
        continue;
      }
      lock.unlock();
      runAs(queue, block);
      block = nullptr;
      lock.lock();
    }
  }

  std::shared_ptr<State> state_;
};

}  // namespace

namespace detail {

bool supportsNotBefore(const DispatchQueue& queue) {
  return dynamic_cast<const SerialQueue*>(&queue) != nullptr ||
         dynamic_cast<const MainQueue*>(&queue) != nullptr;
}

std::uint64_t postNotBefore(DispatchQueue& queue, std::int64_t notBefore, Block block) {
  if (auto* serial = dynamic_cast<SerialQueue*>(&queue))
    return serial->enqueueTimed(std::move(block), notBefore);
  if (dynamic_cast<MainQueue*>(&queue) != nullptr)
    return MainLoopAccess::postTimed(std::move(block), notBefore);
  return 0;
}

void cancelNotBefore(DispatchQueue& queue, std::uint64_t id) {
  if (auto* serial = dynamic_cast<SerialQueue*>(&queue))
    serial->cancelTimed(id);
  else if (dynamic_cast<MainQueue*>(&queue) != nullptr)
    MainLoopAccess::cancelTimed(id);
}

}  // namespace detail

namespace {

// ---- global queues --------------------------------------------------------------------------

// One pool serves every global queue. It keeps as many runnable workers as there are cores and
// adds one when a worker parks in a BlockingScope with work still queued. Workers beyond the
// core count retire after a few idle seconds; the others wait without a time-out.
class WorkerPool {
 public:
  static WorkerPool& instance() {
    static WorkerPool* pool = new WorkerPool;
    return *pool;
  }

  void push(DispatchQueue* queue, Block block) {
    bool spawn;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.emplace_back(queue, std::move(block));
      spawn = reserveWorkerLocked();
    }
    if (spawn) startWorker();
    cv_.notify_one();
  }

  void willBlock() {
    bool spawn;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++blocked_;
      spawn = reserveWorkerLocked();
    }
    if (spawn) startWorker();
  }

  void didUnblock() {
    std::lock_guard<std::mutex> lock(mutex_);
    --blocked_;
  }

 private:
  static constexpr int kMaxThreads = 64;

  bool reserveWorkerLocked() {
    const bool want = static_cast<int>(queue_.size()) > idle_ && threads_ - blocked_ < core_ &&
                      threads_ < kMaxThreads;
    if (want) ++threads_;
    return want;
  }

  void startWorker() {
    startThread("tw.global", [this] { workerMain(); }).detach();
  }

  void workerMain() {
    tlsPoolWorker = true;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      while (queue_.empty()) {
        ++idle_;
        if (threads_ - blocked_ > core_) {
          const bool timedOut =
              cv_.wait_for(lock, std::chrono::seconds(5)) == std::cv_status::timeout;
          --idle_;
          if (timedOut && queue_.empty() && threads_ - blocked_ > core_) {
            --threads_;
            return;
          }
        } else {
          cv_.wait(lock);
          --idle_;
        }
      }
      auto [queue, block] = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      runAs(queue, block);
      block = nullptr;
      lock.lock();
    }
  }

  // Guards queue_ and the thread counts; cv_ waits on it.
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::pair<DispatchQueue*, Block>> queue_;
  int threads_ = 0;
  int idle_ = 0;
  int blocked_ = 0;
  const int core_ = std::max(2, static_cast<int>(std::thread::hardware_concurrency()));
};

class GlobalQueue final : public DispatchQueue {
 public:
  explicit GlobalQueue(std::string label) : DispatchQueue(std::move(label), false) {}
  bool isCurrent() const override { return tlsCurrentQueue == this; }
  void async(Block block) override { WorkerPool::instance().push(this, std::move(block)); }
};

}  // namespace

BlockingScope::BlockingScope() : marked_(tlsPoolWorker && tlsBlockingDepth == 0) {
  ++tlsBlockingDepth;
  if (marked_) WorkerPool::instance().willBlock();
}

BlockingScope::~BlockingScope() {
  --tlsBlockingDepth;
  if (marked_) WorkerPool::instance().didUnblock();
}

// ---- DispatchQueue --------------------------------------------------------------------------

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
  static auto* queue = new std::shared_ptr<DispatchQueue>(std::make_shared<MainQueue>());
  return *queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::global(QoS qos) {
  static auto* queues = new std::shared_ptr<DispatchQueue>[5] {
    std::make_shared<GlobalQueue>("tw.global.background"),
        std::make_shared<GlobalQueue>("tw.global.utility"),
        std::make_shared<GlobalQueue>("tw.global.default"),
        std::make_shared<GlobalQueue>("tw.global.user-initiated"),
        std::make_shared<GlobalQueue>("tw.global.user-interactive"),
  };
  const auto index = static_cast<std::size_t>(qos);
  return queues[index < 5 ? index : 2];
}

std::shared_ptr<DispatchQueue> DispatchQueue::createSerial(std::string label, QoS qos,
                                                           int /*relativePriority*/) {
  return std::make_shared<SerialQueue>(std::move(label), qos);
}

std::shared_ptr<DispatchQueue> DispatchQueue::current() {
  if (tlsCurrentQueue) return tlsCurrentQueue->shared_from_this();
  if (isMainThread()) return main();
  return nullptr;
}

bool DispatchQueue::isMain() const { return this == main().get(); }

void DispatchQueue::sync(const Block& block) {
  if (isCurrent()) {
    runAtBoundary(*this, block);
    return;
  }
  if (!serial_) {
    // A concurrent queue adds nothing by running the block elsewhere.
    runAs(this, block);
    return;
  }
  // Guards done, which cv waits for.
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  async([&] {
    runAtBoundary(*this, block);
    // Notify under the lock: the waiter's stack frame (mutex, cv) ends as soon as it sees done.
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    cv.notify_one();
  });
  BlockingScope blocking;
  std::unique_lock<std::mutex> lock(mutex);
  cv.wait(lock, [&] { return done; });
}

namespace detail {

struct DelayedEntry final : TimedEntry {
  DelayedEntry(std::shared_ptr<DispatchQueue> q, Block b)
      : queue(std::move(q)), block(std::move(b)) {}

  void fire(const std::shared_ptr<Completion>& done) override { post(done); }

  void post(const std::shared_ptr<Completion>& done) {
    std::shared_ptr<DispatchQueue> target;
    {
      std::lock_guard<std::mutex> lock(mutex);
      target = std::move(queue);
    }
    if (!target) {
      if (done) done->complete();
      return;
    }
    auto self = std::static_pointer_cast<DelayedEntry>(shared_from_this());
    target->async([self, done] {
      Block work;
      {
        // Taken under the lock that cancel() sets the flag under: after cancel() returns the
        // block has either started or never will.
        std::lock_guard<std::mutex> lock(self->mutex);
        if (!self->cancelled) work = std::move(self->block);
      }
      if (work) work();
      work = nullptr;
      if (done) done->complete();
    });
  }

  void cancel() {
    Block dropBlock;
    std::shared_ptr<DispatchQueue> dropQueue;
    {
      std::lock_guard<std::mutex> lock(mutex);
      cancelled = true;
      dropBlock = std::move(block);
      dropQueue = std::move(queue);
    }
    Scheduler::instance().cancel(shared_from_this());
  }

  // Guards queue and block (cancelled is atomic).
  std::mutex mutex;
  std::shared_ptr<DispatchQueue> queue;  // until handed over
  Block block;                           // until run or cancelled
  std::atomic<bool> cancelled{false};
};

}  // namespace detail

DelayedWork DispatchQueue::after(double seconds, Block block) {
  auto entry = std::make_shared<detail::DelayedEntry>(shared_from_this(), std::move(block));
  const std::int64_t span = detail::secondsToNanos(seconds);
  if (span == 0) {
    entry->post(nullptr);
  } else {
    const std::int64_t now = clock::monotonicNanos();
    detail::Scheduler::instance().schedule(entry, detail::deadlineAfter(now, span));
  }
  return DelayedWork(std::move(entry));
}

void DelayedWork::cancel() const {
  if (entry_) entry_->cancel();
}

bool DelayedWork::isCancelled() const { return entry_ && entry_->cancelled.load(); }

// ---- Semaphore ------------------------------------------------------------------------------

struct Semaphore::Impl {
  // Guards count.
  std::mutex mutex;
  std::condition_variable cv;
  long count = 0;
};

Semaphore::Semaphore(long initial) : impl_(std::make_shared<Impl>()) { impl_->count = initial; }

Semaphore::~Semaphore() = default;

void Semaphore::signal() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    ++impl_->count;
  }
  impl_->cv.notify_one();
}

void Semaphore::wait() {
  BlockingScope blocking;
  std::unique_lock<std::mutex> lock(impl_->mutex);
  impl_->cv.wait(lock, [&] { return impl_->count > 0; });
  --impl_->count;
}

bool Semaphore::waitFor(double seconds) {
  BlockingScope blocking;
  std::unique_lock<std::mutex> lock(impl_->mutex);
  if (!detail::waitOnClock(lock, impl_->cv, impl_, seconds, [&] { return impl_->count > 0; }))
    return false;
  --impl_->count;
  return true;
}

// ---- DispatchGroup --------------------------------------------------------------------------

struct DispatchGroup::Impl {
  // Guards count and notifications.
  std::mutex mutex;
  std::condition_variable cv;
  long count = 0;
  std::vector<std::pair<std::shared_ptr<DispatchQueue>, Block>> notifications;

  static void leave(const std::shared_ptr<Impl>& impl) {
    decltype(notifications) ready;
    {
      std::lock_guard<std::mutex> lock(impl->mutex);
      if (impl->count == 0) {
        raise(NSInternalInconsistencyException, "Unbalanced call to DispatchGroup::leave()");
      }
      if (--impl->count > 0) return;
      ready.swap(impl->notifications);
    }
    impl->cv.notify_all();
    for (auto& [queue, block] : ready) queue->async(std::move(block));
  }
};

DispatchGroup::DispatchGroup() : impl_(std::make_shared<Impl>()) {}

DispatchGroup::~DispatchGroup() = default;

void DispatchGroup::enter() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  ++impl_->count;
}

void DispatchGroup::leave() { Impl::leave(impl_); }

void DispatchGroup::async(const std::shared_ptr<DispatchQueue>& queue, Block block) {
  enter();
  queue->async([impl = impl_, block = std::move(block)] {
    block();
    Impl::leave(impl);
  });
}

bool DispatchGroup::wait(double seconds) {
  BlockingScope blocking;
  std::unique_lock<std::mutex> lock(impl_->mutex);
  auto empty = [&] { return impl_->count == 0; };
  if (seconds < 0) {
    impl_->cv.wait(lock, empty);
    return true;
  }
  return detail::waitOnClock(lock, impl_->cv, impl_, seconds, empty);
}

void DispatchGroup::notify(const std::shared_ptr<DispatchQueue>& queue, Block block) {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (impl_->count > 0) {
      impl_->notifications.emplace_back(queue, std::move(block));
      return;
    }
  }
  queue->async(std::move(block));
}

}  // namespace tw
