#include "core/Source/Timing/BTUpdater.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <unordered_map>

#include "core/Source/Library/BTMath.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Log.h"

namespace {
constexpr const char* kInvalidRateReason =
    "<BTUpdater> invalid updateable object rate; valid range <= 500 Hz";
}  // namespace

// The rate is read on the main thread (on adding, and again by refreshUpdateRates), so the timer's
// handler never calls into an object that belongs to the main thread; it is also the rate the timer
// was chosen for.
struct BTUpdater::Entry {
  std::shared_ptr<BTUpdateable> object;
  std::uint16_t rate = 0;
};

// Everything the timer handler touches. It holds it by shared_ptr, so it outlives the updater
// while a firing is still being handled.
struct BTUpdater::Core {
  std::mutex objectsLock;
  std::vector<Entry> objects;  // insertion order; an object appears at most once
  std::function<void(std::uint64_t)> tickObserver;  // guarded by objectsLock too

  std::mutex ticksLock;
  std::uint64_t updateTicks = 0;

  // Written on the main thread, read by the timer's handler.
  std::atomic<std::uint16_t> timerUpdateRate{0};
  std::atomic<std::uint64_t> servedTicks{0};

  void tickHandler();
  // The first tick after `tick` on which some object is due (the next one with no objects).
  std::uint64_t firstDueAfter(std::uint64_t tick);
  // How many ticks after the latest one nobody needs: the timer may hold them back.
  std::uint64_t idleTicksAhead();
  // Queues the update() of every object due on `tick` on the main queue.
  void servePass(std::uint64_t tick);
};

namespace {
// Until the timer rate has caught up with a newly added, faster object the step can be 0; such
// an object is then served on every tick.
std::uint16_t stepFor(std::uint16_t timerRate, std::uint16_t rate) {
  return rate == 0 ? 0 : static_cast<std::uint16_t>(timerRate / rate);
}
}  // namespace

std::uint64_t BTUpdater::Core::firstDueAfter(std::uint64_t tick) {
  const std::uint16_t timerRate = timerUpdateRate.load(std::memory_order_acquire);
  std::lock_guard lock(objectsLock);
  if (objects.empty()) return tick + 1;
  std::uint64_t first = UINT64_MAX;
  for (const Entry& entry : objects) {
    const std::uint16_t step = stepFor(timerRate, entry.rate);
    if (step <= 1) return tick + 1;
    first = std::min(first, (tick / step + 1) * step);
  }
  return first;
}

std::uint64_t BTUpdater::Core::idleTicksAhead() {
  std::uint64_t tick;
  {
    std::lock_guard lock(ticksLock);
    tick = updateTicks;
  }
  return firstDueAfter(tick) - tick - 1;
}

// Each firing counts one tick and is served right here, on the main queue, so ticks are served
// in order and one displayed update wakes only the main thread.
void BTUpdater::Core::tickHandler() {
  std::uint64_t tick;
  {
    std::lock_guard lock(ticksLock);
    tick = ++updateTicks;
  }
  if (firstDueAfter(tick - 1) == tick) servePass(tick);
  servedTicks.store(tick, std::memory_order_release);
}

void BTUpdater::Core::servePass(std::uint64_t tick) {
  const auto mainQueue = tw::DispatchQueue::main();
  std::lock_guard lock(objectsLock);
  if (tickObserver) tickObserver(tick);
  const std::uint16_t timerRate = timerUpdateRate.load(std::memory_order_acquire);
  for (const Entry& entry : objects) {
    const std::uint16_t step = stepFor(timerRate, entry.rate);
    if (step != 0 && tick % step != 0) continue;
    std::weak_ptr<BTUpdateable> weak = entry.object;
    mainQueue->async([weak] {
      if (auto object = weak.lock()) object->update();
    });
  }
}

BTUpdater::BTUpdater() : core_(std::make_shared<Core>()) { setupTasks(); }

BTUpdater::~BTUpdater() {
  // Synchronous: no firing is being handled once this returns.
  if (updateTimer_) updateTimer_->stop();
  // The objects belong to the main thread: let them go here, not wherever the core dies.
  std::vector<Entry> objects;
  {
    std::lock_guard lock(core_->objectsLock);
    objects.swap(core_->objects);
  }
}

void BTUpdater::setupTasks() {
  {
    std::lock_guard lock(core_->ticksLock);
    core_->updateTicks = 0;
  }
  auto core = core_;
  updateTimer_ =
      std::make_shared<QLNTimer>(tw::DispatchQueue::main(), [core] { core->tickHandler(); });
  updateTimer_->setFiresImmediately(true);
  // Ticks on which nothing is due need no wake-up of their own: a running timer (2 Hz on a
  // 4 Hz timer) then wakes the main thread once per update, not once per tick.
  updateTimer_->setIdleFirings([core] { return core->idleTicksAhead(); });
}

std::vector<std::shared_ptr<BTUpdateable>> BTUpdater::updateableObjects() const {
  std::vector<std::shared_ptr<BTUpdateable>> result;
  std::lock_guard lock(core_->objectsLock);
  result.reserve(core_->objects.size());
  for (const Entry& entry : core_->objects) result.push_back(entry.object);
  return result;
}

void BTUpdater::addUpdateableObject(const std::shared_ptr<BTUpdateable>& object) {
  TW_MAIN_THREAD_ONLY("BTUpdater::addUpdateableObject");
  if (!object) return;
  auto isPresent = [&] {
    return std::any_of(core_->objects.begin(), core_->objects.end(),
                       [&](const Entry& e) { return e.object == object; });
  };
  {
    std::lock_guard lock(core_->objectsLock);
    if (isPresent()) return;
  }
  // Read outside the lock: the object may do anything in there.
  const std::uint16_t rate = object->updateRate();
  {
    std::lock_guard lock(core_->objectsLock);
    if (isPresent()) return;
    std::vector<std::uint16_t> rates;
    rates.reserve(core_->objects.size() + 1);
    for (const Entry& entry : core_->objects) rates.push_back(entry.rate);
    rates.push_back(rate);
    rateForRates(rates);  // raises before anything has changed
    core_->objects.push_back(Entry{object, rate});
  }
  validateUpdateableObjects();
}

void BTUpdater::removeUpdateableObject(const std::shared_ptr<BTUpdateable>& object) {
  TW_MAIN_THREAD_ONLY("BTUpdater::removeUpdateableObject");
  if (!object) return;
  Entry removed;
  {
    std::lock_guard lock(core_->objectsLock);
    auto it = std::find_if(core_->objects.begin(), core_->objects.end(),
                           [&](const Entry& e) { return e.object == object; });
    if (it == core_->objects.end()) return;
    removed = std::move(*it);
    core_->objects.erase(it);
  }
  // `removed` may hold the last reference; it goes when this function returns, outside the lock.
  validateUpdateableObjects();
}

void BTUpdater::refreshUpdateRates() {
  TW_MAIN_THREAD_ONLY("BTUpdater::refreshUpdateRates");
  const auto objects = updateableObjects();
  if (objects.empty()) return;
  // Read outside the lock, as on adding: the objects may do anything in there.
  std::unordered_map<const BTUpdateable*, std::uint16_t> fresh;
  fresh.reserve(objects.size());
  for (const auto& object : objects) fresh.emplace(object.get(), object->updateRate());
  {
    std::lock_guard lock(core_->objectsLock);
    // An object that arrived meanwhile keeps the rate read when it came; one that left is gone.
    std::vector<std::uint16_t> rates;
    rates.reserve(core_->objects.size());
    for (const Entry& entry : core_->objects) {
      auto it = fresh.find(entry.object.get());
      rates.push_back(it != fresh.end() ? it->second : entry.rate);
    }
    rateForRates(rates);  // raises before anything has changed
    // Until validateOnce() below stores the new timer rate, a pass may pair a new object rate
    // with the old timer rate; the handler copes with a step of 0 and any other step is harmless
    // for that moment.
    for (std::size_t i = 0; i < rates.size(); ++i) core_->objects[i].rate = rates[i];
  }
  validateUpdateableObjects();
}

void BTUpdater::validateUpdateableObjects() {
  TW_MAIN_THREAD_ONLY("BTUpdater::validateUpdateableObjects");
  if (validating_) {
    revalidate_ = true;
    return;
  }
  validating_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{validating_};
  do {
    revalidate_ = false;
    validateOnce();
  } while (revalidate_);
}

void BTUpdater::validateOnce() {
  if (!updateTimer_) return;
  QLNTimer& timer = *updateTimer_;
  bool empty;
  {
    std::lock_guard lock(core_->objectsLock);
    empty = core_->objects.empty();
  }
  if (empty) {
    if (!timer.isActive()) return;
    tw::log("<BTUpdater> Stopping Update Loop");
    timer.stop();
    if (auto d = delegate()) d->updaterDidStopUpdating(*this);
    return;
  }

  const std::uint16_t rate = optimalUpdateRate();
  const double interval = 1.0 / rate;
  if (timer.interval() != interval) {
    core_->timerUpdateRate.store(rate, std::memory_order_release);
    timer.setInterval(interval);
    tw::logf("<BTUpdater> New Interval : %lf", timer.interval());
  }
  // A new object may be due on ticks the timer holds back.
  timer.idleFiringsChanged();
  if (!timer.isActive()) {
    tw::log("<BTUpdater> Starting Update Loop");
    timer.start();
    if (auto d = delegate()) d->updaterDidBeginUpdating(*this);
  }
}

std::uint16_t BTUpdater::optimalUpdateRate() const {
  std::vector<std::uint16_t> rates;
  {
    std::lock_guard lock(core_->objectsLock);
    for (const Entry& entry : core_->objects) rates.push_back(entry.rate);
  }
  if (rates.empty()) return 0;
  return rateForRates(rates);
}

std::uint16_t BTUpdater::rateForRates(const std::vector<std::uint16_t>& rates) {
  const std::set<std::uint64_t> distinct(rates.begin(), rates.end());
  if (distinct.empty()) return 0;
  const std::uint64_t max = *distinct.rbegin();
  const std::uint64_t min = *distinct.begin();
  if (min == 0 || max > kMaximumRate)
    tw::raise(tw::NSInternalInconsistencyException, kInvalidRateReason);
  const std::vector<std::uint64_t> values(distinct.begin(), distinct.end());
  const std::uint64_t lcm = bt_math_lcm_list(values.data(), values.size());
  if (lcm > kMaximumRate) tw::raise(tw::NSInternalInconsistencyException, kInvalidRateReason);
  return static_cast<std::uint16_t>(lcm == max ? lcm * 2 : lcm);
}

std::uint64_t BTUpdater::updateTicks() const {
  std::lock_guard lock(core_->ticksLock);
  return core_->updateTicks;
}

std::uint64_t BTUpdater::servedTicks() const {
  return core_->servedTicks.load(std::memory_order_acquire);
}

std::uint16_t BTUpdater::timerUpdateRate() const {
  return core_->timerUpdateRate.load(std::memory_order_acquire);
}

void BTUpdater::setTickObserver(std::function<void(std::uint64_t tick)> observer) {
  std::lock_guard lock(core_->objectsLock);
  core_->tickObserver = std::move(observer);
}
