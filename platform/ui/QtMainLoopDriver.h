#pragma once
// QtMainLoopDriver: runs the main queue under Qt's event loop. When work is posted to the main
// queue, the driver posts an event to the main thread's Qt loop, and handling that event drains
// the queue; the same happens in every nested Qt loop (QDialog::exec, QMessageBox::exec), and
// whenever a Qt loop is about to sleep while main-queue work is still waiting (a block that opened
// a modal dialog leaves the blocks behind it waiting; they run inside the dialog's loop).
//
// Owned by platform/ui. wakeUp() may be called from any thread; install() only on the main
// thread, once a QCoreApplication (normally the QApplication) exists. When that application is
// destroyed the driver unbinds itself and the run loop goes back to its own driver.

#include <memory>

#include "platform/foundation/Dispatch.h"

namespace tw::ui {

class QtMainLoopDriver final : public MainLoopDriver {
 public:
  // Binds a driver to the running Qt application and installs it on the main run loop; returns
  // the one already installed when there is one for this application. Raises
  // NSInternalInconsistencyException off the main thread or without a Qt application.
  static std::shared_ptr<QtMainLoopDriver> install();
  // Whether the main run loop is driven by a QtMainLoopDriver bound to a live application.
  static bool isInstalled();

  ~QtMainLoopDriver() override;
  void wakeUp() override;
  void wakeAt(std::int64_t monotonicNanos) override;

  // Shared between the driver and the Qt object that receives its events; public only so the
  // implementation file can name it.
  struct Binding;

 private:
  explicit QtMainLoopDriver(std::shared_ptr<Binding> binding);
  bool isBound() const;
  std::shared_ptr<Binding> binding_;
};

}  // namespace tw::ui
