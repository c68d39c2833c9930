// The process's one deadline scheduler (see Dispatch_impl.h).

#include <pthread.h>
#include <time.h>

#include <cmath>
#include <thread>

#include "platform/foundation/Dispatch_impl.h"
#include "platform/foundation/Thread.h"

namespace tw::detail {

std::atomic<VirtualClock*> g_virtualClock{nullptr};

std::int64_t realMonotonicNanos() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::int64_t secondsToNanos(double seconds) {
  if (!(seconds > 0)) return 0;
  const double ns = seconds * 1e9;
  if (ns >= 9.2e18) return INT64_MAX;
  return static_cast<std::int64_t>(std::llround(ns));
}

void Completion::complete() {
  done_.store(true, std::memory_order_release);
  MainLoopAccess::poke();
}

Scheduler& Scheduler::instance() {
  // Leaked on purpose: detached threads and late destructors may still schedule at exit.
  static Scheduler* scheduler = new Scheduler;
  return *scheduler;
}

void Scheduler::schedule(const std::shared_ptr<TimedEntry>& entry, std::int64_t deadline) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entry->scheduled_) entries_.erase(entry->key_);
    entry->key_ = {deadline, nextSeq_++};
    entry->scheduled_ = true;
    auto it = entries_.emplace(entry->key_, entry).first;
    // Only a new earliest deadline changes how long the thread should sleep.
    wake = !virtual_ && it == entries_.begin();
    if (!threadStarted_) startThreadLocked();
  }
  if (wake) cv_.notify_one();
}

void Scheduler::cancel(const std::shared_ptr<TimedEntry>& entry) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!entry->scheduled_) return;
    auto it = entries_.find(entry->key_);
    // Re-arm the thread now rather than let it wake at a deadline that no longer exists.
    wake = !virtual_ && it == entries_.begin();
    entries_.erase(it);
    entry->scheduled_ = false;
  }
  if (wake) cv_.notify_one();
}

void Scheduler::enterVirtual(VirtualClock* clock) {
  std::lock_guard<std::mutex> lock(mutex_);
  virtual_ = true;
  g_virtualClock.store(clock, std::memory_order_release);
}

void Scheduler::leaveVirtual(std::int64_t shiftNanos) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    g_virtualClock.store(nullptr, std::memory_order_release);
    virtual_ = false;
    decltype(entries_) moved;
    for (auto& [key, entry] : entries_) {
      entry->key_ = {deadlineAfter(key.first, shiftNanos), key.second};
      moved.emplace(entry->key_, entry);
    }
    entries_.swap(moved);
  }
  cv_.notify_one();
}

std::shared_ptr<TimedEntry> Scheduler::takeDue(std::int64_t upTo, std::int64_t* deadline) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.empty()) return nullptr;
  auto it = entries_.begin();
  if (it->first.first > upTo) return nullptr;
  auto entry = std::move(it->second);
  *deadline = it->first.first;
  entries_.erase(it);
  entry->scheduled_ = false;
  return entry;
}

std::optional<std::int64_t> Scheduler::nextDeadline() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.empty()) return std::nullopt;
  return entries_.begin()->first.first;
}

void Scheduler::startThreadLocked() {
  threadStarted_ = true;
  startThread("tw.scheduler", [this] { threadMain(); }).detach();
}

void Scheduler::threadMain() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (virtual_ || entries_.empty()) {
      cv_.wait(lock);
      continue;
    }
    auto it = entries_.begin();
    const std::int64_t deadline = it->first.first;
    if (deadline > realMonotonicNanos()) {
      cv_.wait_until(lock,
                     std::chrono::steady_clock::time_point{std::chrono::nanoseconds(deadline)});
      continue;
    }
    auto entry = std::move(it->second);
    entries_.erase(it);
    entry->scheduled_ = false;
    lock.unlock();
    entry->fire(nullptr);
    entry.reset();  // the entry's owner may go here; never under our lock
    lock.lock();
  }
}

}  // namespace tw::detail
