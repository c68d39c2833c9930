#include "platform/ui/QtMainLoopDriver.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>

#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include "platform/foundation/Exception.h"

namespace tw::ui {

namespace {

QEvent::Type drainEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

struct QtMainLoopDriver::Binding {
  // Guards receiver against its destructor while other threads post to it.
  std::mutex mutex;
  // The object that receives drain events; cleared by its destructor, so no thread posts to it
  // once it starts going away (Qt drops events still queued for a destroyed object).
  QObject* receiver = nullptr;
  // A drain event is on its way; further requests ride on it. Keeps Qt's queue short when the
  // main queue is pumped some other way for a while (RunLoop::runUntil in a test).
  std::atomic<bool> drainQueued{false};
  // Wakes the main thread's loop at the earliest moment of the main queue's timed blocks; a
  // kernel timer, so no thread of ours wakes to hand the moment over. -1 when the kernel
  // refused one (the loop is then woken through the scheduler's thread, see wakeAt).
  int timerFd = -1;
  // Any thread's wake-up reaches the main thread's loop through this counter rather than a
  // posted event: an event made on another thread is memory that the main thread's event
  // filters then read, handed over under Qt's own lock. -1 when the kernel refused one (drain
  // events are posted then).
  int wakeFd = -1;

  ~Binding() {
    if (timerFd >= 0) ::close(timerFd);
    if (wakeFd >= 0) ::close(wakeFd);
  }

  // Without a kernel timer: an empty main-queue block at that moment, posted by the scheduler's
  // thread, brings the drain. Never at once: the caller holds the run loop's lock.
  static void postDrainAt(std::int64_t monotonicNanos) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t nowNanos = now.tv_sec * 1'000'000'000LL + now.tv_nsec;
    const double seconds = static_cast<double>(monotonicNanos - nowNanos) / 1e9;
    DispatchQueue::main()->after(std::max(seconds, 1e-6), [] {});
  }

  void postDrain() {
    if (drainQueued.exchange(true)) return;
    if (wakeFd >= 0) {
      const std::uint64_t one = 1;
      // Only a full counter refuses, and a full counter already wakes the loop.
      [[maybe_unused]] const auto n = ::write(wakeFd, &one, sizeof one);
      return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (receiver) QCoreApplication::postEvent(receiver, new QEvent(drainEventType()));
  }
};

namespace {

// Lives on the main thread as a child of the application, so it goes when the application goes.
class DrainReceiver final : public QObject {
 public:
  DrainReceiver(std::shared_ptr<QtMainLoopDriver::Binding> binding, QObject* parent)
      : QObject(parent), binding_(std::move(binding)) {
    std::lock_guard<std::mutex> lock(binding_->mutex);
    binding_->receiver = this;
    if (binding_->timerFd >= 0) {
      auto* notifier = new QSocketNotifier(binding_->timerFd, QSocketNotifier::Read, this);
      QObject::connect(notifier, &QSocketNotifier::activated, this, [fd = binding_->timerFd] {
        std::uint64_t expirations = 0;
        // Non-blocking: a re-arm since the wake-up may have emptied it already.
        [[maybe_unused]] const auto n = ::read(fd, &expirations, sizeof expirations);
        RunLoop::main().drain();
      });
    }
    if (binding_->wakeFd >= 0) {
      auto* notifier = new QSocketNotifier(binding_->wakeFd, QSocketNotifier::Read, this);
      QObject::connect(notifier, &QSocketNotifier::activated, this, [binding = binding_.get()] {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto n = ::read(binding->wakeFd, &count, sizeof count);
        // Cleared first: work posted while the queue drains must bring another wake-up.
        binding->drainQueued = false;
        RunLoop::main().drain();
      });
    }
  }

  ~DrainReceiver() override {
    {
      std::lock_guard<std::mutex> lock(binding_->mutex);
      binding_->receiver = nullptr;
    }
    // Hand the main queue back to the run loop's own driver, unless someone replaced ours.
    auto current = std::dynamic_pointer_cast<QtMainLoopDriver>(RunLoop::main().driver());
    if (current && !QtMainLoopDriver::isInstalled()) RunLoop::main().setDriver(nullptr);
  }

  bool event(QEvent* event) override {
    if (event->type() == drainEventType()) {
      // Cleared first: work posted while the queue drains must bring another event.
      binding_->drainQueued = false;
      RunLoop::main().drain();
      return true;
    }
    return QObject::event(event);
  }

 private:
  std::shared_ptr<QtMainLoopDriver::Binding> binding_;
};

}  // namespace

QtMainLoopDriver::QtMainLoopDriver(std::shared_ptr<Binding> binding)
    : binding_(std::move(binding)) {}

QtMainLoopDriver::~QtMainLoopDriver() = default;

void QtMainLoopDriver::wakeUp() { binding_->postDrain(); }

void QtMainLoopDriver::wakeAt(std::int64_t monotonicNanos) {
  if (binding_->timerFd < 0) {
    if (monotonicNanos != INT64_MAX) Binding::postDrainAt(monotonicNanos);
    return;
  }
  itimerspec spec{};
  if (monotonicNanos != INT64_MAX) {
    // An it_value of zero disarms: a moment at or before the clock's start still means "now".
    const std::int64_t at = std::max<std::int64_t>(monotonicNanos, 1);
    spec.it_value.tv_sec = static_cast<time_t>(at / 1'000'000'000);
    spec.it_value.tv_nsec = static_cast<long>(at % 1'000'000'000);
  }
  ::timerfd_settime(binding_->timerFd, TFD_TIMER_ABSTIME, &spec, nullptr);
}

bool QtMainLoopDriver::isBound() const {
  std::lock_guard<std::mutex> lock(binding_->mutex);
  return binding_->receiver != nullptr;
}

bool QtMainLoopDriver::isInstalled() {
  auto current = std::dynamic_pointer_cast<QtMainLoopDriver>(RunLoop::main().driver());
  return current && current->isBound();
}

std::shared_ptr<QtMainLoopDriver> QtMainLoopDriver::install() {
  if (!isMainThread())
    raise(NSInternalInconsistencyException,
          "QtMainLoopDriver::install must be called on the main thread");
  QCoreApplication* app = QCoreApplication::instance();
  if (!app)
    raise(NSInternalInconsistencyException,
          "QtMainLoopDriver::install needs a running Qt application");
  if (auto current = std::dynamic_pointer_cast<QtMainLoopDriver>(RunLoop::main().driver());
      current && current->isBound())
    return current;

  auto binding = std::make_shared<Binding>();
  binding->timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  binding->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  auto* receiver = new DrainReceiver(binding, app);
  // A block that opens a modal loop leaves the blocks queued behind it without a wake-up of
  // their own; catch them whenever a loop, nested or not, is about to sleep.
  if (auto* dispatcher = QAbstractEventDispatcher::instance(app->thread())) {
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, receiver, [binding] {
      if (RunLoop::main().pendingCount() > 0) binding->postDrain();
    });
  }
  std::shared_ptr<QtMainLoopDriver> driver(new QtMainLoopDriver(binding));
  // Installing wakes the driver at once when work is already waiting.
  RunLoop::main().setDriver(driver);
  return driver;
}

}  // namespace tw::ui
