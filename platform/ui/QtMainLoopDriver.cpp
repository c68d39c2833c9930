#include "platform/ui/QtMainLoopDriver.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <atomic>
#include <mutex>

#include "platform/foundation/Exception.h"

namespace tw::ui {

namespace {

QEvent::Type drainEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

struct QtMainLoopDriver::Binding {
  std::mutex mutex;
  // The object that receives drain events; cleared by its destructor, so no thread posts to it
  // once it starts going away (Qt drops events still queued for a destroyed object).
  QObject* receiver = nullptr;
  // A drain event is on its way; further requests ride on it. Keeps Qt's queue short when the
  // main queue is pumped some other way for a while (RunLoop::runUntil in a test).
  std::atomic<bool> drainQueued{false};

  void postDrain() {
    if (drainQueued.exchange(true)) return;
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
